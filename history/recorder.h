#pragma once

#include "channels/schedule.h"
#include "common/clock.h"
#include "history/hours.h"
#include "history/record.h"
#include "port/port.h"

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

    Recorder(QString path, const Clock& clock, QObject* parent = nullptr);
    ~Recorder() override;

    const QString& path() const { return m_path; }
    bool isOpen() const { return m_open; }
    // Why the history is not being kept; empty while it is.
    QString problem() const { return m_problem; }

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
    // The first time the file cannot be used in this run.
    void problemFound(const QString& text);

private:
    void schedule();
    void flush(bool final = false);
    void fail(const QString& reason);

    QString m_path;
    const Clock& m_clock;
    QThread m_thread;
    Writer* m_writer = nullptr;
    bool m_open = false;
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
    bool m_hoursReset = false;
    qint64 m_hoursSavedMs = 0;
    bool m_pruneDue = false;
    int m_batches = 0;
    HoursTracker m_hours;
    int m_lastByte = -1;
    int m_lastOutputs = -1;
    int m_lastInputs = -1; // -1: the first reading of this run
};

} // namespace kestra::history
