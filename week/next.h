#pragma once

#include "week/intervals.h"
#include "week/pulse.h"

#include <QDateTime>

namespace kestra::week {

// The next moment at which an output changes by its schedule or its pulse.
struct NextSwitching
{
    enum class Kind { None, At, Frozen };
    Kind kind = Kind::None;
    QDateTime at;    // Kind::At: the first moment of the new state
    bool on = false; // the new state
    bool pulse = false;

    bool operator==(const NextSwitching&) const = default;
};

// Within a week of real time from `now`, the first second at which the
// week's state differs from that at `now`. The ticks read the wall clock, so
// this walks it as they do: a switching inside an hour the clock skips comes
// at the jump (when the state there differs), one inside an hour the clock
// repeats comes in both passes.
NextSwitching nextSwitching(const ChannelWeek& week, const QDateTime& now);
// The end of the running pulse phase.
NextSwitching nextSwitching(const PulsePlan& pulse, const QDateTime& now);

// "next: Mon 12:00:01 ON", "no switching this week", "frozen at its last state"
QString nextSwitchingText(const NextSwitching& next);
// The same with the date, for a tooltip.
QString nextSwitchingToolTip(const NextSwitching& next);

} // namespace kestra::week
