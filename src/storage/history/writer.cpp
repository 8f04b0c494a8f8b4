#include "storage/history/writer.h"

#include "base/failure.h"

#include <limits>

namespace kestra::history {

Writer::~Writer() = default;

HistoryFile::State Writer::open()
{
    m_file = HistoryFile::open(m_path, HistoryFile::Access::Write);
    return m_file->state();
}

bool Writer::countHours(const HistoryFile::State& state, std::optional<HoursTracker::Saved>& hours)
{
    hours = state.hours;
    if (!m_file || !state.lastPort || (state.hours && state.lastPort->ms <= state.hours->uptoMs)) return true;
    HoursTracker t;
    if (state.hours) t.restore(*state.hours);
    const qint64 after = state.hours ? state.hours->uptoMs : std::numeric_limits<qint64>::min();
    if (!m_file->countHours(t, after, m_stop)) return false;
    hours = t.saved();
    return true;
}

void Writer::write(const Batch& batch)
{
    if (!m_file) return;
    if (!m_retry) {
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        m_retry->setInterval(kRetryPeriod);
        connect(m_retry, &QTimer::timeout, this, [this] { write(Batch{}); });
    }
    m_retry->stop();
    m_pending.ports += batch.ports;
    m_pending.inputs += batch.inputs;
    if (batch.hours) m_pending.hours = batch.hours;
    if (batch.pruneBeforeMs) m_pending.pruneBeforeMs = batch.pruneBeforeMs;
    const auto trim = [this](auto& list) {
        if (list.size() <= kMaxPending) return;
        m_dropped += list.size() - kMaxPending;
        list.remove(0, list.size() - kMaxPending);
    };
    trim(m_pending.ports);
    trim(m_pending.inputs);
    try {
        m_file->write(m_pending.ports, m_pending.inputs, m_pending.hours);
        m_pending.ports.clear();
        m_pending.inputs.clear();
        m_pending.hours.reset();
        if (m_pending.pruneBeforeMs) {
            // Cut short by stop(): the next start prunes the rest.
            m_file->prune(m_pending.pruneBeforeMs, &m_stop);
            m_pending.pruneBeforeMs = 0;
        }
        emit written();
    } catch (const Failure& f) {
        QString reason = f.description;
        if (m_dropped)
            reason += QStringLiteral(" (%1 records could not be kept while waiting)").arg(m_dropped);
        emit failed(reason);
        m_retry->start();
    }
}

void Writer::close()
{
    if (m_retry) m_retry->stop();
    // A last try for what waits; then it is lost with the program.
    if (hasPending()) write(Batch{});
    if (m_retry) m_retry->stop();
    m_file.reset();
}

} // namespace kestra::history
