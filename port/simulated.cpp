#include "port/simulated.h"

#include "common/failure.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestra::port {

namespace {
// Every output OFF under the default polarity (0 V is ON), all inputs OFF.
constexpr unsigned char kInitial[3] = {0xFF, SimulatedPortFile::kIdleStatus, 0x00};

Failure portFailure(const QString& path, int err)
{
    return Failure(
        failure::kPort,
        QStringLiteral("Simulated port %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(err))));
}

struct Fd
{
    int fd;
    ~Fd()
    {
        if (fd >= 0) ::close(fd);
    }
};
} // namespace

QString SimulatedPortFile::ensureExists() const
{
    const QByteArray p = QFile::encodeName(m_path);
    Fd f{::open(p.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)};
    if (f.fd < 0) return QString::fromLocal8Bit(std::strerror(errno));
    struct stat st
    {
    };
    if (::fstat(f.fd, &st) < 0) return QString::fromLocal8Bit(std::strerror(errno));
    for (off_t off = st.st_size; off < 3; ++off)
        if (::pwrite(f.fd, &kInitial[off], 1, off) != 1) return QString::fromLocal8Bit(std::strerror(errno));
    return {};
}

quint8 SimulatedPortFile::read(int offset) const
{
    const QByteArray p = QFile::encodeName(m_path);
    Fd f{::open(p.constData(), O_RDONLY | O_CLOEXEC)};
    if (f.fd < 0) throw portFailure(m_path, errno);
    unsigned char v = 0;
    const ssize_t n = ::pread(f.fd, &v, 1, offset);
    if (n < 0) throw portFailure(m_path, errno);
    if (n == 0)
        throw Failure(failure::kPort,
                      QStringLiteral("Simulated port %1 is shorter than 3 bytes").arg(m_path));
    return v;
}

void SimulatedPortFile::write(int offset, quint8 value) const
{
    const QByteArray p = QFile::encodeName(m_path);
    Fd f{::open(p.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600)};
    if (f.fd < 0) throw portFailure(m_path, errno);
    const unsigned char v = value;
    if (::pwrite(f.fd, &v, 1, offset) != 1) throw portFailure(m_path, errno);
}

} // namespace kestra::port
