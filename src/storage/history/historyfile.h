#pragma once

#include "base/failure.h"
#include "logic/history/hours.h"
#include "logic/history/record.h"
#include "storage/store/sqlite.h"

#include <QList>
#include <QString>
#include <atomic>
#include <memory>
#include <optional>

namespace kestra::history {

// A history file this program cannot use at all: not SQLite, damaged, without
// its tables, or written by a newer program. Moving it away starts a new
// history; any other Failure of the file may pass (a lock, no access, a full disk).
struct Unusable : Failure
{
    using Failure::Failure;
};

// The history file: an SQLite file of its own, apart from the settings
// database, in WAL mode so that other programs may read it while it is written.
// One object is one connection and belongs to the thread that opened it.
class HistoryFile
{
public:
    enum class Access { Write, Read };

    // Opens the file; for writing it is created (mode 0600) when missing and
    // given its tables when empty. A file that cannot be used throws Failure
    // (Unusable when it is no history file) with the reason; it is never changed then.
    static std::unique_ptr<HistoryFile> open(const QString& path, Access access);
    ~HistoryFile();
    HistoryFile(const HistoryFile&) = delete;
    HistoryFile& operator=(const HistoryFile&) = delete;

    const QString& path() const { return m_path; }

    // What a new run goes on from.
    struct State
    {
        std::optional<PortRecord> lastPort;
        std::optional<InputRecord> lastInput;
        std::optional<HoursTracker::Saved> hours;
    };
    State state() const;

    // One transaction: all of it reaches the file, or none (Failure). A record
    // whose millisecond is taken already goes to the next free one.
    void write(const QList<PortRecord>& ports, const QList<InputRecord>& inputs,
               const std::optional<HoursTracker::Saved>& hours);
    // Deletes the records older than `beforeMs`, a day of them at a time, and
    // returns how many; stops early, between two days, once `stop` is set.
    int prune(qint64 beforeMs, const std::atomic<bool>* stop = nullptr);

    // Newest first, from <= ms < to, at most `limit`. output / input 0: all;
    // otherwise only the records that mark that output or change that input.
    QList<PortRecord> portRecords(qint64 from, qint64 to, int output, int limit) const;
    QList<InputRecord> inputRecords(qint64 from, qint64 to, int input, int limit) const;
    // In time order, from <= ms < to, and the outputs ON just before `from`
    // (none when the file holds nothing older: what was on then is not known).
    QList<PortRecord> portRecordsBetween(qint64 from, qint64 to) const;
    std::optional<quint8> outputsBefore(qint64 ms) const;
    // Everything in time order, in memory: for small files only.
    QList<PortRecord> allPortRecords() const;
    // Counts the port records after `afterMs` into `hours`, in time order, one
    // at a time: the file may hold tens of millions. Returns false, partly
    // counted, as soon as it sees `stop` set (it looks every few thousand
    // records). A read that fails throws Failure (Unusable when the file is damaged).
    bool countHours(HoursTracker& hours, qint64 afterMs, const std::atomic<bool>& stop) const;

private:
    HistoryFile(QString path, store::SqliteConnection connection);
    void createOrCheck(Access access);

    QString m_path;
    store::SqliteConnection m_connection;
};

} // namespace kestra::history
