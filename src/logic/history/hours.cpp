#include "logic/history/hours.h"

#include "base/clock.h"

#include <QDateTime>

namespace kestra::history {

namespace {
qint64 midnight(const QDate& d)
{
    return QDateTime(d, QTime(0, 0)).toMSecsSinceEpoch();
}
QDate localDate(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).date();
}
} // namespace

qint64 dayStart(qint64 ms)
{
    return midnight(localDate(ms));
}

qint64 weekStart(qint64 ms)
{
    const QDate d = localDate(ms);
    return midnight(d.addDays(1 - weekdayNumber(d)));
}

qint64 monthStart(qint64 ms)
{
    const QDate d = localDate(ms);
    return midnight(QDate(d.year(), d.month(), 1));
}

void HoursTracker::begin(qint64 ms, quint8 outputs)
{
    m_s = Saved{};
    m_s.uptoMs = ms;
    m_s.outputs = outputs;
    m_s.resetMs.fill(ms);
    m_started = true;
    m_dayEnd = 0;
    enterPeriods(ms);
}

void HoursTracker::restore(const Saved& saved)
{
    m_s = saved;
    m_started = true;
    // The saved periods are those that hold uptoMs.
    m_dayStart = dayStart(saved.uptoMs);
    m_dayEnd = dayStart(m_dayStart + 36 * 3600 * 1000LL);
    m_weekStart = weekStart(saved.uptoMs);
    m_monthStart = monthStart(saved.uptoMs);
}

void HoursTracker::enterPeriods(qint64 ms)
{
    const qint64 day = dayStart(ms);
    if (day != m_dayStart || m_dayEnd == 0) {
        m_dayStart = day;
        // A day is 23 to 25 hours long; 36 hours on is always within the next one.
        m_dayEnd = dayStart(day + 36 * 3600 * 1000LL);
        m_s.dayMs.fill(0);
    }
    if (const qint64 week = weekStart(ms); week != m_weekStart) {
        m_weekStart = week;
        m_s.weekMs.fill(0);
    }
    if (const qint64 month = monthStart(ms); month != m_monthStart) {
        m_monthStart = month;
        m_s.monthMs.fill(0);
    }
}

void HoursTracker::add(qint64 from, qint64 to)
{
    const qint64 d = to - from;
    for (int m = 0; m < 8; ++m) {
        if (!(m_s.outputs & (1u << m))) continue;
        m_s.dayMs[m] += d;
        m_s.weekMs[m] += d;
        m_s.monthMs[m] += d;
        m_s.totalMs[m] += d;
    }
}

void HoursTracker::advance(qint64 ms)
{
    if (ms < m_s.uptoMs) {
        // The clock was set back: nothing to count, and the periods are those of the new time.
        m_s.uptoMs = ms;
        enterPeriods(ms);
        return;
    }
    while (ms >= m_dayEnd) {
        add(m_s.uptoMs, m_dayEnd);
        m_s.uptoMs = m_dayEnd;
        enterPeriods(m_dayEnd);
    }
    add(m_s.uptoMs, ms);
    m_s.uptoMs = ms;
}

void HoursTracker::change(qint64 ms, quint8 outputs)
{
    if (!m_started) {
        begin(ms, outputs);
        return;
    }
    advance(ms);
    m_s.outputs = outputs;
}

void HoursTracker::reset(int output, qint64 ms)
{
    if (!m_started) begin(ms, 0);
    advance(ms);
    m_s.totalMs[output - 1] = 0;
    m_s.resetMs[output - 1] = ms;
}

Hours HoursTracker::hours(int output, qint64 now) const
{
    if (!m_started) return Hours{0, 0, 0, 0, now};
    HoursTracker t = *this;
    t.advance(qMax(now, m_s.uptoMs));
    const int i = output - 1;
    return Hours{t.m_s.dayMs[i], t.m_s.weekMs[i], t.m_s.monthMs[i], t.m_s.totalMs[i], t.m_s.resetMs[i]};
}

QList<Stretch> onStretches(quint8 outputsAtFrom, const QList<PortRecord>& records, int output, qint64 from,
                           qint64 to)
{
    QList<Stretch> out;
    const quint8 bit = quint8(1u << (output - 1));
    bool on = outputsAtFrom & bit;
    qint64 since = from;
    for (const PortRecord& r : records) {
        if (r.ms < from) continue;
        if (r.ms >= to) break;
        const bool now = r.outputs & bit;
        if (now == on) continue;
        if (on && r.ms > since) out.append({since, r.ms});
        on = now;
        since = r.ms;
    }
    if (on && to > since) out.append({since, to});
    return out;
}

qint64 totalMs(const QList<Stretch>& stretches)
{
    qint64 sum = 0;
    for (const Stretch& s : stretches)
        sum += s.to - s.from;
    return sum;
}

} // namespace kestra::history
