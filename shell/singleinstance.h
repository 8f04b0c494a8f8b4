#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

namespace kestra::shell {

// One running instance per build: a lock file in the user's runtime directory
// (the program directory when there is none). A stale lock of a crashed run is taken over.
class SingleInstance
{
public:
    explicit SingleInstance(const QString& title);
    bool acquire();
    QString lockPath() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace kestra::shell
