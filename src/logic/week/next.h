#pragma once

#include "logic/week/intervals.h"
#include "logic/week/pulseplan.h"

#include <QDateTime>
#include <array>
#include <optional>

namespace kestra::week {

// The next moment at which an output changes by its schedule or its pulse.
struct NextSwitching
{
    // NoMode: no mode option selected, so the schedule and the inputs do
    // nothing. Held: an input 3 hold runs; `at` is its end, `on` the state held.
    enum class Kind { None, At, Frozen, NoMode, Held };
    Kind kind = Kind::None;
    QDateTime at;                   // Kind::At: the first moment of the new state
    bool on = false;                // the new state
    std::optional<PulsePlan> pulse; // while pulsing
    QString why;                    // what moved it: "sunset", "holiday", "presence"; empty for the clock

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

// "next: Mon 12:00:01 ON", "no switching this week", "frozen at its last state",
// "no mode chosen: select AUTO in its window", "held ON until 14:55:53",
// "pulsing 2 s ON, 3 s OFF". In the output's own window, "no mode chosen:
// select AUTO above".
QString nextSwitchingText(const NextSwitching& next, bool inItsWindow = false);
// The same with the date, for a tooltip.
QString nextSwitchingToolTip(const NextSwitching& next);

// One line for outputs 1 to 8: the soonest switching or end of a hold (a pulse
// is left out: its phases come too fast), and the outputs with no mode.
// "Next: output 3 ON at Mon 12:00:06", "No mode chosen on any output: ..."
QString nextOverviewText(const std::array<NextSwitching, 8>& next);

} // namespace kestra::week
