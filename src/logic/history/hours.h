#pragma once

#include "logic/history/record.h"

#include <QList>
#include <array>

namespace kestra::history {

// ON time of one output, in ms: in the current local day, week (from Sunday
// 00:00, the first day of the program's week) and month, and since its reset.
struct Hours
{
    qint64 todayMs = 0;
    qint64 weekMs = 0;
    qint64 monthMs = 0;
    qint64 totalMs = 0;
    qint64 resetMs = 0; // since when totalMs counts
};

// Local midnight starting the day, week and month that hold `ms`.
qint64 dayStart(qint64 ms);
qint64 weekStart(qint64 ms);
qint64 monthStart(qint64 ms);

// Counts the ON time of the eight outputs as the port records come, so that
// asking costs no query. Time counts with the state of the last change until
// the next one, also across a gap when the program was not running: the port
// keeps what was written last.
class HoursTracker
{
public:
    // What the history file keeps, so that counting goes on after a restart.
    struct Saved
    {
        qint64 uptoMs = 0; // everything up to here is counted
        quint8 outputs = 0;
        std::array<qint64, 8> resetMs{}, totalMs{}, dayMs{}, weekMs{}, monthMs{};
        bool operator==(const Saved&) const = default;
    };

    bool isStarted() const { return m_started; }
    // Starts counting at `ms` with `outputs` ON: every output's reset is then.
    void begin(qint64 ms, quint8 outputs);
    void restore(const Saved& saved);
    Saved saved() const { return m_s; }

    // From `ms` on, `outputs` are ON. Starts counting when not started.
    void change(qint64 ms, quint8 outputs);
    // Output m's total counts again from zero, from `ms`.
    void reset(int output, qint64 ms);
    // Output m's time counted up to `now`; the tracker itself does not move.
    Hours hours(int output, qint64 now) const;
    quint8 outputs() const { return m_s.outputs; }

private:
    void advance(qint64 ms);
    void add(qint64 from, qint64 to);
    void enterPeriods(qint64 ms);

    bool m_started = false;
    Saved m_s;
    qint64 m_dayStart = 0, m_dayEnd = 0, m_weekStart = 0, m_monthStart = 0;
};

// A stretch of time [from, to).
struct Stretch
{
    qint64 from = 0;
    qint64 to = 0;
    bool operator==(const Stretch&) const = default;
};

// The stretches within [from, to) in which `output` is ON, given the outputs ON
// at `from` and the records from then on in time order.
QList<Stretch> onStretches(quint8 outputsAtFrom, const QList<PortRecord>& records, int output, qint64 from,
                           qint64 to);
qint64 totalMs(const QList<Stretch>& stretches);

} // namespace kestra::history
