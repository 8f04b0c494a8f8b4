#include "model/recorder.h"

#include "base/failure.h"
#include "base/filehandles.h"
#include "logic/history/rows.h"
#include "platform/port/bits.h"
#include "storage/history/writer.h"

#include <QCoreApplication>
#include <algorithm>

namespace kestra::history {

using namespace std::chrono_literals;

namespace {
constexpr auto kPrunePeriod = 24h;
} // namespace

Recorder::Recorder(QString path, const Clock& clock, QObject* parent, bool openNow)
    : QObject(parent), m_path(std::move(path)), m_clock(clock)
{
    m_batchTimer.setSingleShot(true);
    // "At most one transaction a second" is a promise; a coarse timer may come early.
    m_batchTimer.setTimerType(Qt::PreciseTimer);
    m_batchTimer.setInterval(kBatchPeriod);
    connect(&m_batchTimer, &QTimer::timeout, this, [this] { flush(); });
    m_hoursTimer.setSingleShot(true);
    connect(&m_hoursTimer, &QTimer::timeout, this, [this] { flush(); });
    m_pruneTimer.setInterval(kPrunePeriod);
    connect(&m_pruneTimer, &QTimer::timeout, this, [this] {
        m_pruneDue = true;
        schedule();
    });

    m_thread.setObjectName(QStringLiteral("history"));
    m_writer = new Writer(m_path);
    m_writer->moveToThread(&m_thread);
    connect(m_writer, &Writer::failed, this, &Recorder::fail);
    connect(m_writer, &Writer::written, this, [this] { m_problem.clear(); });
    m_open = true;
    if (openNow) open();
}

void Recorder::open()
{
    if (!m_writer || m_thread.isRunning()) return;
    startWithWakeUp(m_thread);
    m_opening = true;

    // On the history's thread, so that neither a slow disk nor a long count
    // holds up the port. The batches handed over meanwhile queue up behind it.
    Writer* writer = m_writer;
    QMetaObject::invokeMethod(
        writer,
        [this, writer] {
            const auto report = [this](const auto& call) {
                QMetaObject::invokeMethod(this, call, Qt::QueuedConnection);
            };
            HistoryFile::State state;
            QString error;
            bool unusable = false;
            try {
                state = writer->open();
            } catch (const Unusable& f) {
                error = f.description;
                unusable = true;
            } catch (const Failure& f) {
                error = f.description;
            } catch (const std::exception& e) {
                error = QString::fromLocal8Bit(e.what());
            }
            report([this, state, error, unusable] { opened(state, error, unusable); });
            if (!error.isEmpty()) return;
            std::optional<HoursTracker::Saved> hours;
            try {
                // Cut short by close(): nothing counted is saved, the next start counts again.
                if (!writer->countHours(state, hours)) return;
            } catch (const Unusable& f) {
                report([this, text = f.description] { notCounted(text, true); });
                return;
            } catch (const Failure& f) {
                report([this, text = f.description] { notCounted(text, false); });
                return;
            } catch (const std::exception& e) {
                report([this, text = QString::fromLocal8Bit(e.what())] { notCounted(text, false); });
                return;
            }
            report([this, hours] { counted(hours); });
        },
        Qt::QueuedConnection);
    m_pruneDue = true;
    schedule();
    m_pruneTimer.start();
}

Recorder::~Recorder()
{
    close();
}

void Recorder::opened(const HistoryFile::State& state, const QString& error, bool unusable)
{
    m_opening = false;
    if (!m_open) return;
    if (!error.isEmpty()) {
        m_open = false;
        m_problem = error;
        m_said = true; // told here, once
        m_batchTimer.stop();
        m_pruneTimer.stop();
        m_hoursTimer.stop();
        m_ports.clear();
        m_inputs.clear();
        m_uncounted.clear();
        m_hoursState = HoursState::Failed;
        // Its thread has nothing left but the batches it drops: it ends at once.
        m_thread.quit();
        m_thread.wait();
        delete m_writer;
        m_writer = nullptr;
        emit notKept(error, unusable);
        emit countingEnded();
        emit openTried();
        return;
    }
    // The file's last write, unless this run has written already.
    if (m_lastByte < 0 && state.lastPort) {
        m_lastByte = state.lastPort->byte;
        m_lastOutputs = state.lastPort->outputs;
    }
    emit openTried();
}

void Recorder::counted(const std::optional<HoursTracker::Saved>& saved)
{
    if (!m_open || m_hoursState != HoursState::Counting) return;
    HoursTracker t;
    if (saved) t.restore(*saved);
    for (const Uncounted& u : m_uncounted) {
        if (u.resetOutput)
            t.reset(u.resetOutput, u.ms);
        else
            t.change(u.ms, u.outputs);
    }
    m_uncounted.clear();
    m_hours = t;
    m_hoursState = HoursState::Known;
    // Saved at once: a count may have taken long, and need not be done again.
    m_hoursChanged = m_hours.isStarted();
    m_hoursSaveNow = true;
    schedule();
    emit countingEnded();
}

void Recorder::notCounted(const QString& error, bool unusable)
{
    if (!m_open || m_hoursState != HoursState::Counting) return;
    m_uncounted.clear();
    m_hoursState = HoursState::Failed;
    m_hoursProblem = error;
    emit countFailed(error, unusable);
    emit countingEnded();
}

void Recorder::written(port::Register reg, quint8 value)
{
    if (!m_open || reg != port::Register::Data) return;
    try {
        const qint64 ms = m_clock.now().toMSecsSinceEpoch();
        const Snapshot snap = m_snapshot ? m_snapshot() : Snapshot{};
        const quint8 outputs = outputsOf(value, snap.fiveVoltsOn);
        if (m_phase == Phase::Running && value == m_lastByte && outputs == m_lastOutputs) return;
        quint32 causes = 0;
        for (int m = 1; m <= 8; ++m) {
            const unsigned bit = 1u << (m - 1);
            const bool stateChanged = m_lastOutputs < 0 || ((outputs ^ m_lastOutputs) & bit);
            const bool lineChanged = m_lastByte < 0 || ((value ^ m_lastByte) & bit);
            if (m_phase == Phase::StartUp)
                causes = withCause(causes, m, Cause::StartUp);
            else if (m_phase == Phase::Shutdown)
                causes = withCause(causes, m, Cause::Shutdown);
            else if (stateChanged)
                causes = withCause(causes, m, fromChannel(snap.causes[m - 1]));
            else if (lineChanged)
                causes = withCause(causes, m, Cause::Polarity);
        }
        m_ports.append(PortRecord{ms, value, outputs, causes});
        if (m_hoursState == HoursState::Counting) {
            m_uncounted.append(Uncounted{ms, 0, outputs});
        } else if (m_hoursState == HoursState::Known) {
            m_hours.change(ms, outputs);
            m_hoursChanged = true;
        }
        m_lastByte = value;
        m_lastOutputs = outputs;
        schedule();
    } catch (const std::exception& e) {
        fail(QString::fromLocal8Bit(e.what()));
    }
}

void Recorder::read(port::Register reg, quint8 value)
{
    if (!m_open || reg != port::Register::Status) return;
    const auto on = port::decodeInputs(value);
    quint8 inputs = 0;
    for (int n = 0; n < 5; ++n)
        if (on[n]) inputs |= quint8(1u << n);
    const quint8 changed = m_lastInputs < 0 ? quint8(0x1F) : quint8(inputs ^ m_lastInputs);
    if (!changed) return;
    m_inputs.append(InputRecord{m_clock.now().toMSecsSinceEpoch(), inputs, changed});
    m_lastInputs = inputs;
    schedule();
}

Hours Recorder::hours(int output) const
{
    return m_hours.hours(output, m_clock.now().toMSecsSinceEpoch());
}

void Recorder::resetHours(int output)
{
    if (!m_open || m_hoursState == HoursState::Failed) return;
    const qint64 ms = m_clock.now().toMSecsSinceEpoch();
    if (m_hoursState == HoursState::Counting) {
        m_uncounted.append(Uncounted{ms, output, 0});
        return;
    }
    m_hours.reset(output, ms);
    m_hoursChanged = true;
    m_hoursSaveNow = true;
    schedule();
    emit hoursReset(output);
}

void Recorder::schedule()
{
    if (!m_batchTimer.isActive()) m_batchTimer.start();
}

void Recorder::flush(bool final)
{
    m_batchTimer.stop();
    if (!m_open) return;
    const qint64 now = m_clock.now().toMSecsSinceEpoch();
    Batch batch;
    batch.ports.swap(m_ports);
    batch.inputs.swap(m_inputs);
    // The hours are a page of their own: saved once a minute, not with every batch.
    const bool due = final || m_hoursSaveNow || qAbs(now - m_hoursSavedMs) >= kHoursSavePeriod.count();
    if (m_hoursChanged && m_hours.isStarted() && due) {
        batch.hours = m_hours.saved();
        m_hoursChanged = false;
        m_hoursSaveNow = false;
        m_hoursSavedMs = now;
    }
    if (m_hoursChanged && !m_hoursTimer.isActive()) {
        const qint64 left = kHoursSavePeriod.count() - qAbs(now - m_hoursSavedMs);
        m_hoursTimer.start(std::chrono::milliseconds(
            std::clamp<qint64>(left, kBatchPeriod.count(), kHoursSavePeriod.count())));
    }
    if (m_pruneDue) {
        const auto keep = std::chrono::duration_cast<std::chrono::milliseconds>(kKeep).count();
        batch.pruneBeforeMs = now - keep;
        m_pruneDue = false;
    }
    if (batch.isEmpty()) return;
    ++m_batches;
    Writer* writer = m_writer;
    QMetaObject::invokeMethod(
        writer, [writer, batch] { writer->write(batch); }, Qt::QueuedConnection);
}

void Recorder::sync()
{
    flush(true);
    if (!m_open) return;
    open();
    // Behind the opening and the count too: this may wait long while counting.
    QMetaObject::invokeMethod(
        m_writer, [] {}, Qt::BlockingQueuedConnection);
    // The writer's reports (opened, counted, this batch) are queued for this thread: take them now.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void Recorder::close()
{
    if (!m_open) return;
    open(); // what waits in memory is written all the same
    flush(true);
    m_open = false;
    m_pruneTimer.stop();
    m_hoursTimer.stop();
    Writer* writer = m_writer;
    // A count under way gives up, so that the end is not held up; the records
    // waiting behind it are written all the same.
    writer->stop();
    QMetaObject::invokeMethod(
        writer, [writer] { writer->close(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_writer;
    m_writer = nullptr;
}

void Recorder::fail(const QString& reason)
{
    m_problem = reason;
    if (m_said) return;
    m_said = true;
    emit problemFound(reason);
}

} // namespace kestra::history
