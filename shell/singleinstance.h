#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

namespace kestra::shell {

// One running instance per build and program directory: a lock file beside the
// database, so that sessions with different runtime directories (or none) still
// share one lock. A stale lock of a crashed run is taken over.
class SingleInstance
{
public:
    explicit SingleInstance(const QString& lockPath);
    bool acquire();
    QString lockPath() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace kestra::shell
