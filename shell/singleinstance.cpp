#include "shell/singleinstance.h"

#include <QFile>
#include <QThread>
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
// it for as long as it holds the lock).
bool nobodyHolds(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
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
    if (m_lock->tryLock(0)) return true;
    // A program killed between making the lock file and writing its pid leaves
    // an empty file, which would refuse every later start until removed by hand.
    if (m_lock->error() != QLockFile::LockFailedError || namesAProcess(m_path) || !nobodyHolds(m_path))
        return false;
    QThread::msleep(std::chrono::milliseconds(kLockSettle).count());
    if (namesAProcess(m_path) || !nobodyHolds(m_path)) return false;
    QFile::remove(m_path);
    return m_lock->tryLock(0);
}

} // namespace kestra::shell
