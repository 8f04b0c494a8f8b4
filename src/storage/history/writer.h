#pragma once

#include "storage/history/historyfile.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>

namespace kestra::history {

// What the recorder hands over once a second at most.
struct Batch
{
    QList<PortRecord> ports;
    QList<InputRecord> inputs;
    std::optional<HoursTracker::Saved> hours;
    qint64 pruneBeforeMs = 0; // 0: no pruning this time
    bool isEmpty() const { return ports.isEmpty() && inputs.isEmpty() && !hours && !pruneBeforeMs; }
};

// Owns the writing connection, in a thread of its own: the disk never holds up
// the switching. A batch that cannot be written (a lock held elsewhere, a full
// disk) is kept and tried again with the next one, up to a bound.
class Writer : public QObject
{
    Q_OBJECT
public:
    // Records kept in memory while the file cannot be written; the oldest go first.
    static constexpr int kMaxPending = 200000;
    // How soon what waits is tried again when nothing new comes.
    static constexpr std::chrono::milliseconds kRetryPeriod{2000};

    explicit Writer(QString path) : m_path(std::move(path)) {}
    ~Writer() override;

    // These run in the writer's thread.
    HistoryFile::State open(); // throws Failure
    // The hours the file comes to: `state`'s saved hours counted on over the
    // records after them, or all records counted when none are saved; nothing
    // when the file holds neither. False when stop() cut it short. Throws Failure.
    bool countHours(const HistoryFile::State& state, std::optional<HoursTracker::Saved>& hours);
    void write(const Batch& batch);
    void close();
    bool hasPending() const { return !m_pending.isEmpty(); }

    // From any thread: a count under way gives up within a few milliseconds.
    void stop() { m_stop = true; }

signals:
    void failed(const QString& reason);
    void written();

private:
    QString m_path;
    std::unique_ptr<HistoryFile> m_file;
    Batch m_pending;
    QTimer* m_retry = nullptr; // made in the writer's thread
    qint64 m_dropped = 0;
    std::atomic<bool> m_stop{false};
};

} // namespace kestra::history
