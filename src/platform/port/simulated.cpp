#include "platform/port/simulated.h"

#include "base/errnotext.h"
#include "base/failure.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestra::port {

namespace {

Failure portFailure(const QString& path, const QString& what)
{
    return Failure(failure::kPort, QStringLiteral("Simulated port %1: %2").arg(path, what));
}

Failure errnoFailure(const QString& path, int err)
{
    return portFailure(path, errnoText(err));
}

struct Fd
{
    int fd;
    ~Fd()
    {
        if (fd >= 0) ::close(fd);
    }
};

QString shapeProblem(SimulatedPortFile::Shape shape, qint64 size)
{
    switch (shape) {
    case SimulatedPortFile::Shape::Missing:
        return QStringLiteral("the file is missing");
    case SimulatedPortFile::Shape::WrongSize:
        return QStringLiteral("the file is %1 bytes long, not 3").arg(size);
    case SimulatedPortFile::Shape::NotAFile:
        return QStringLiteral("not a regular file (a FIFO, directory or device is never used)");
    case SimulatedPortFile::Shape::Whole:
        break;
    }
    return {};
}

SimulatedPortFile::Shape shapeOf(const struct stat& st)
{
    if (!S_ISREG(st.st_mode)) return SimulatedPortFile::Shape::NotAFile;
    return st.st_size == 3 ? SimulatedPortFile::Shape::Whole : SimulatedPortFile::Shape::WrongSize;
}

// Opens the whole port file. Non-blocking and checked again after the open,
// since the path may change between the look and the open.
Fd openWhole(const QString& path, int flags)
{
    const QByteArray p = QFile::encodeName(path);
    struct stat st
    {
    };
    if (::stat(p.constData(), &st) != 0) {
        if (errno != ENOENT) throw errnoFailure(path, errno);
        const bool link = ::lstat(p.constData(), &st) == 0; // a link to nothing
        throw portFailure(
            path,
            shapeProblem(link ? SimulatedPortFile::Shape::NotAFile : SimulatedPortFile::Shape::Missing, 0));
    }
    if (const auto shape = shapeOf(st); shape != SimulatedPortFile::Shape::Whole)
        throw portFailure(path, shapeProblem(shape, st.st_size));
    Fd f{::open(p.constData(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (f.fd < 0) throw errnoFailure(path, errno);
    if (::fstat(f.fd, &st) != 0) throw errnoFailure(path, errno);
    if (const auto shape = shapeOf(st); shape != SimulatedPortFile::Shape::Whole)
        throw portFailure(path, shapeProblem(shape, st.st_size));
    return Fd{std::exchange(f.fd, -1)};
}

} // namespace

SimulatedPortFile::Shape SimulatedPortFile::shape(qint64* size) const
{
    const QByteArray p = QFile::encodeName(m_path);
    struct stat st
    {
    };
    if (::stat(p.constData(), &st) != 0) {
        // A link to nothing, or a path that cannot be looked at, is never replaced.
        if (errno != ENOENT || ::lstat(p.constData(), &st) == 0) return Shape::NotAFile;
        return Shape::Missing;
    }
    if (size) *size = st.st_size;
    return shapeOf(st);
}

QString SimulatedPortFile::ensureExists() const
{
    if (shape() != Shape::Missing) return {};
    try {
        putBack(kInitial);
    } catch (const Failure& f) {
        return f.description;
    }
    return {};
}

quint8 SimulatedPortFile::read(int offset) const
{
    const Fd f = openWhole(m_path, O_RDONLY);
    unsigned char v = 0;
    const ssize_t n = ::pread(f.fd, &v, 1, offset);
    if (n < 0) throw errnoFailure(m_path, errno);
    if (n == 0) throw portFailure(m_path, QStringLiteral("the file is shorter than 3 bytes"));
    return v;
}

SimulatedPortFile::Bytes SimulatedPortFile::readAll() const
{
    const Fd f = openWhole(m_path, O_RDONLY);
    Bytes b{};
    const ssize_t n = ::pread(f.fd, b.data(), b.size(), 0);
    if (n < 0) throw errnoFailure(m_path, errno);
    if (n != ssize_t(b.size())) throw portFailure(m_path, QStringLiteral("the file is shorter than 3 bytes"));
    return b;
}

void SimulatedPortFile::write(int offset, quint8 value) const
{
    const Fd f = openWhole(m_path, O_WRONLY);
    const unsigned char v = value;
    if (::pwrite(f.fd, &v, 1, offset) != 1) throw errnoFailure(m_path, errno);
}

void SimulatedPortFile::putBack(const Bytes& bytes) const
{
    qint64 size = 0;
    const Shape now = shape(&size);
    if (now == Shape::NotAFile) throw portFailure(m_path, shapeProblem(now, size));
    const QString temp = m_path + QStringLiteral(".new");
    const QByteArray t = QFile::encodeName(temp);
    ::unlink(t.constData());
    {
        Fd f{::open(t.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)};
        if (f.fd < 0) throw errnoFailure(m_path, errno);
        if (::write(f.fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()) || ::fsync(f.fd) != 0) {
            const int err = errno;
            ::unlink(t.constData());
            throw errnoFailure(m_path, err);
        }
    }
    if (::rename(t.constData(), QFile::encodeName(m_path).constData()) != 0) {
        const int err = errno;
        ::unlink(t.constData());
        throw errnoFailure(m_path, err);
    }
}

} // namespace kestra::port
