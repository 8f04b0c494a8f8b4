#include "shell/singleinstance.h"

namespace kestra::shell {

SingleInstance::SingleInstance(const QString& lockPath) : m_path(lockPath)
{
    m_lock = std::make_unique<QLockFile>(m_path);
    m_lock->setStaleLockTime(0); // a lock is stale only when its process is gone
}

bool SingleInstance::acquire()
{
    return m_lock->tryLock(0);
}

} // namespace kestra::shell
