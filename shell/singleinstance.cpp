#include "shell/singleinstance.h"

#include "common/paths.h"

#include <QDir>
#include <QStandardPaths>

namespace kestra::shell {

SingleInstance::SingleInstance(const QString& title)
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty() || !QDir().mkpath(dir)) dir = programDirectory();
    m_path = dir + QStringLiteral("/") + title.toLower() + QStringLiteral(".lock");
    m_lock = std::make_unique<QLockFile>(m_path);
    m_lock->setStaleLockTime(0); // a lock is stale only when its process is gone
}

bool SingleInstance::acquire()
{
    return m_lock->tryLock(0);
}

} // namespace kestra::shell
