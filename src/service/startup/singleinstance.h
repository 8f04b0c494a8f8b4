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
    // Why acquire() failed, for the user: another instance holds the lock, or
    // the lock cannot be made at all (with the system's reason).
    QString refusal(const QString& title) const;
    // acquire() failed because another instance holds the lock (not because it
    // cannot be made).
    bool heldElsewhere() const { return m_cannot.isEmpty(); }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    QString m_cannot; // what keeps the lock from being made; empty when another instance holds it
};

} // namespace kestra::shell
