#pragma once

#include "logic/calendar/settings.h"
#include "logic/schedule/schedule.h"

#include <QDate>
#include <QStringList>
#include <QTimeZone>
#include <optional>
#include <vector>

namespace kestra::calendar {

// Where an edge of an ON period comes from.
enum class Reason { Clock, Sunrise, Sunset, Holiday, Presence };
channels::Cause causeOf(Reason r);
QString reasonText(Reason r); // "", "sunrise", "sunset", "holiday", "presence"

// Moments [from, to] (seconds since the epoch), both ON.
struct Span
{
    qint64 from = 0;
    qint64 to = 0;
    Reason start = Reason::Clock;
    Reason end = Reason::Clock;
    bool operator==(const Span&) const = default;
};

// What the schedule step gives on one local date for one output when the
// calendar has a say: the ON periods in real time, and why some switchings
// do not happen.
struct DayPlan
{
    QDate date;
    qint64 first = 0; // the date's first and last moment
    qint64 last = 0;
    std::vector<Span> on; // sorted; touching periods joined
    QStringList notes;    // "no sunset on 21 Jun (midnight sun)"
    QString holiday;      // the holiday's name while one decides the date
    // The notes of the switchings the date loses: those that would have
    // switched on it but for a missing sunrise or sunset.
    QStringList missed;

    bool isOn(qint64 t) const;
    // Why the schedule step gives what it gives at `t`.
    Reason reasonAt(qint64 t) const;
};

// The presence shift of the edges of output `output` on `date`: 2 per
// switching (start, end), each within +-minutes*60 seconds. The same seed,
// output and date always give the same shifts.
std::vector<int> presenceShifts(quint64 seed, int output, const QDate& date, int minutes, int switchings);

// The schedule step of output c.channel on `date` with the calendar's
// additions, from the converted switchings `sw`. Nothing when the calendar
// does not touch the output that date: the described step decides alone.
// A sun-anchored start or end on a date without that sun event drops the
// whole switching for the date (never a made-up time; the output stays OFF).
// Channel 7's period follows its edges across midnight: a start moved past
// midnight starts on the next date (when that date's finish takes it, else the
// date notes the switching it loses), and a period within one day whose edge
// moved onto the date before or after runs on there.
std::optional<DayPlan> dayPlan(const channels::ChannelControls& c, const std::vector<channels::Switching>& sw,
                               const Settings& s, const QDate& date, const QTimeZone& zone);

// One tick with the calendar: as channels::evaluate(), with the schedule step
// of dayPlan() on dates the calendar touches. A text that does not convert
// throws Failure 13 before anything is written, as there.
void evaluate(const channels::ChannelControls& c, const Settings& s, const inputs::OverrideView& inputs,
              const QDateTime& now, State& status, channels::Cause* cause = nullptr);

} // namespace kestra::calendar
