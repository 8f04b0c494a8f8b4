#pragma once

#include "base/clock.h"
#include "logic/history/hours.h"
#include "logic/history/record.h"
#include "logic/schedule/schedule.h"
#include "platform/port/port.h"
#include "storage/history/historyfile.h"

#include <QObject>
#include <QThread>
#include <QTimer>
#include <array>
#include <chrono>
#include <functional>

namespace kestra::history {

class Writer;

// Listens at the port: every write of the data register and every change of
// the inputs read becomes a record. Records are handed to the writer's thread
// once a second at most, and at the end; the port calls return at once.
// When the file cannot be used the recorder says so once and stays out of
// the way: switching goes on exactly as without it.
class Recorder : public QObject, public port::Observer
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kBatchPeriod{1000};
    // How often the running hours are saved; the records after the last save
    // are counted again at the next start, so nothing is lost in between.
    static constexpr std::chrono::milliseconds kHoursSavePeriod{60000};

    enum class Phase { StartUp, Running, Shutdown };
    // What the program knows at the moment of a port write.
    struct Snapshot
    {
        bool fiveVoltsOn = false;
        std::array<channels::Cause, 8> causes{};
    };

    // Returns at once: the file is opened, and its hours counted, on the
    // history's own thread, while the port is driven. Records made meanwhile
    // wait in memory and are written after, in order. With `openNow` false
    // the file is opened only at open(): the program drives its port first.
    Recorder(QString path, const Clock& clock, QObject* parent = nullptr, bool openNow = true);
    // Starts opening the file (once); see the constructor.
    void open();
    ~Recorder() override;

    const QString& path() const { return m_path; }
    // Recording: from the start until the file turns out not to open (notKept) or close().
    bool isOpen() const { return m_open; }
    // open() was called and its file has not yet been found usable or not.
    bool isOpening() const { return m_opening; }
    // Why the history is not being kept; empty while it is.
    QString problem() const { return m_problem; }

    // The hours are being counted from the file: briefly at every start, for
    // long when its saved hours are missing or behind (a file of a year of
    // half-second pulses holds 69 million records). Meanwhile hours() knows
    // nothing of the file; the changes of this run are counted on top after.
    bool isCounting() const { return m_hoursState == HoursState::Counting; }
    // Why the hours could not be counted in this run; empty otherwise. They
    // are not saved in such a run, so the next start counts again.
    QString hoursProblem() const { return m_hoursProblem; }

    void setPhase(Phase phase) { m_phase = phase; }
    void setSnapshotSource(std::function<Snapshot()> source) { m_snapshot = std::move(source); }

    void written(port::Register reg, quint8 value) override;
    void read(port::Register reg, quint8 value) override;

    Hours hours(int output) const;
    void resetHours(int output);

    // Batches handed to the writer so far: one transaction each.
    int batches() const { return m_batches; }
    // Everything recorded so far is in the file (or has failed) when this returns.
    void sync();
    // Writes what is pending and closes the file. Nothing is recorded afterwards.
    void close();

signals:
    // The first time the file cannot be written in this run.
    void problemFound(const QString& text);
    // The file could not be opened: nothing is kept in this run. `unusable`: it
    // is no history file this program can use, and moving it away starts a new
    // one; otherwise it may well open at the next start (a lock, no access).
    void notKept(const QString& reason, bool unusable);
    // The hours could not be counted; `unusable` as above.
    void countFailed(const QString& reason, bool unusable);
    // open() has found the file usable or not (notKept() came first then).
    void openTried();
    // Counting is over: the hours are known, or could not be counted, or the file did not open.
    void countingEnded();
    // Output m's hours count from zero, from now.
    void hoursReset(int output);

private:
    enum class HoursState { Counting, Known, Failed };
    // A change of this run while the file is counted: the outputs ON from `ms`
    // on, or (output 1 to 8) that output's reset.
    struct Uncounted
    {
        qint64 ms = 0;
        int resetOutput = 0;
        quint8 outputs = 0;
    };

    void opened(const HistoryFile::State& state, const QString& error, bool unusable);
    void counted(const std::optional<HoursTracker::Saved>& saved);
    void notCounted(const QString& error, bool unusable);
    void schedule();
    void flush(bool final = false);
    void fail(const QString& reason);

    QString m_path;
    const Clock& m_clock;
    QThread m_thread;
    Writer* m_writer = nullptr;
    bool m_open = false;
    bool m_opening = false;
    bool m_said = false;
    QString m_problem;
    Phase m_phase = Phase::StartUp;
    std::function<Snapshot()> m_snapshot;

    QTimer m_batchTimer;
    QTimer m_pruneTimer;
    QTimer m_hoursTimer;
    QList<PortRecord> m_ports;
    QList<InputRecord> m_inputs;
    bool m_hoursChanged = false;
    bool m_hoursSaveNow = false;
    qint64 m_hoursSavedMs = 0;
    bool m_pruneDue = false;
    int m_batches = 0;
    HoursTracker m_hours;
    HoursState m_hoursState = HoursState::Counting;
    QString m_hoursProblem;
    QList<Uncounted> m_uncounted;
    int m_lastByte = -1;
    int m_lastOutputs = -1;
    int m_lastInputs = -1; // -1: the first reading of this run
};

} // namespace kestra::history
