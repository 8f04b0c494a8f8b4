#include "base/filehandles.h"

#include "base/errnotext.h"

#include <QSemaphore>
#include <QThread>
#include <QtDebug>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>

namespace kestra {

namespace {

// A handle that costs nothing and needs no file to exist.
int takeHandle()
{
    return ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool isShortage(int err)
{
    return err == EMFILE || err == ENFILE;
}

} // namespace

bool raiseFileHandleLimit(const QString& title)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= rlim_t(kFileHandlesWanted)) return true;
    // Not beyond FD_SETSIZE: a library that still uses select() fails on a higher handle.
    const rlim_t raised = std::min<rlim_t>(limit.rlim_max, FD_SETSIZE);
    if (raised > limit.rlim_cur) {
        limit.rlim_cur = raised;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur >= rlim_t(kFileHandlesWanted)) return true;
    const auto allowed = qulonglong(limit.rlim_cur);
    if (allowed < kFileHandlesMinimum) {
        qWarning().noquote() << QStringLiteral(
                                    "%1: cannot run with %2 open files (ulimit -n); it needs %3 at least")
                                    .arg(title)
                                    .arg(allowed)
                                    .arg(kFileHandlesMinimum);
        return false;
    }
    qWarning().noquote() << QStringLiteral(
                                "%1: only %2 open files are allowed (ulimit -n), fewer than the %3 "
                                "it is made for: the port comes first, the history, sounds and "
                                "dialogs may fail")
                                .arg(title)
                                .arg(allowed)
                                .arg(kFileHandlesWanted);
    return true;
}

QString fileHandleShortageOr(const QString& otherwise, int needed)
{
    std::vector<int> taken;
    int err = 0;
    while (int(taken.size()) < needed) {
        const int fd = takeHandle();
        if (fd < 0) {
            err = errno;
            break;
        }
        taken.push_back(fd);
    }
    for (const int fd : taken)
        ::close(fd);
    return err != 0 && isShortage(err) ? errnoText(err) : otherwise;
}

void startWithWakeUp(QThread& thread)
{
    // started() is emitted on the new thread once its event dispatcher exists.
    QSemaphore ready;
    const auto connection =
        QObject::connect(&thread, &QThread::started, &thread, [&ready] { ready.release(); }, Qt::DirectConnection);
    thread.start();
    ready.acquire();
    QObject::disconnect(connection);
}

FileHandleReserve::FileHandleReserve(int wanted, int spare)
{
    // Taking and giving back needs no count of what is open, which /proc may not tell.
    int err = 0;
    while (int(m_fds.size()) < wanted + spare) {
        const int fd = takeHandle();
        if (fd < 0) {
            err = errno;
            break;
        }
        m_fds.push_back(fd);
    }
    if (m_fds.empty() && isShortage(err))
        m_problem = QStringLiteral("no file can be opened (%1); raise the limit of open files (ulimit -n)")
                        .arg(errnoText(err));
    for (int i = 0; i < spare && !m_fds.empty(); ++i) {
        ::close(m_fds.back());
        m_fds.pop_back();
    }
}

void FileHandleReserve::release()
{
    for (const int fd : m_fds)
        ::close(fd);
    m_fds.clear();
}

} // namespace kestra
