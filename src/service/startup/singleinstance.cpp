#include "service/startup/singleinstance.h"

#include "base/errnotext.h"

#include <QFile>
#include <QThread>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kestra::shell {

namespace {

using namespace std::chrono_literals;

// A starting program makes the lock file and writes its pid into it a few
// microseconds later; one that looks empty this long after is a leftover.
constexpr auto kLockSettle = 200ms;

// True when no process holds the file's native lock (QLockFile keeps a flock on
// it for as long as it holds the lock). *openError: why it could not be looked at.
bool nobodyHolds(const QString& path, int* openError = nullptr)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (openError && errno != ENOENT) *openError = errno;
        return false;
    }
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

// Why the lock file cannot be made, found by making it as QLockFile would; empty
// when it can (or exists by now, held by whoever made it).
QString whyNotCreated(const QString& path)
{
    const QByteArray p = QFile::encodeName(path);
    const int fd = ::open(p.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(p.constData());
        return {};
    }
    return errno == EEXIST ? QString() : QStringLiteral("cannot create %1: %2").arg(path, errnoText(errno));
}

bool namesAProcess(const QString& path)
{
    qint64 pid = 0;
    QString host, app;
    return QLockFile(path).getLockInfo(&pid, &host, &app);
}

} // namespace

SingleInstance::SingleInstance(const QString& lockPath) : m_path(lockPath)
{
    m_lock = std::make_unique<QLockFile>(m_path);
    m_lock->setStaleLockTime(0); // a lock is stale only when its process is gone
}

bool SingleInstance::acquire()
{
    m_cannot.clear();
    if (m_lock->tryLock(0)) return true;
    // A read-only or foreign directory is not another instance: say what it is.
    if (m_lock->error() != QLockFile::LockFailedError) {
        m_cannot = whyNotCreated(m_path);
        if (m_cannot.isEmpty()) m_cannot = QStringLiteral("cannot create %1").arg(m_path);
        return false;
    }
    // A program killed between making the lock file and writing its pid leaves
    // an empty file, which would refuse every later start until removed by hand.
    int openError = 0;
    if (namesAProcess(m_path) || !nobodyHolds(m_path, &openError)) {
        // A lock file left by another user (root) is not a running instance either.
        if (openError) m_cannot = QStringLiteral("cannot open %1: %2").arg(m_path, errnoText(openError));
        return false;
    }
    QThread::msleep(std::chrono::milliseconds(kLockSettle).count());
    if (namesAProcess(m_path) || !nobodyHolds(m_path)) return false;
    if (::unlink(QFile::encodeName(m_path).constData()) != 0 && errno != ENOENT) {
        // Something nobody holds that cannot go, such as a directory in its place.
        m_cannot = QStringLiteral("cannot replace %1: %2").arg(m_path, errnoText(errno));
        return false;
    }
    return m_lock->tryLock(0);
}

QString SingleInstance::refusal(const QString& title) const
{
    if (!m_cannot.isEmpty()) return QStringLiteral("%1 cannot start: %2.").arg(title, m_cannot);
    return QStringLiteral("%1 is already running. Use the window that is open (lock %2).").arg(title, m_path);
}

} // namespace kestra::shell
