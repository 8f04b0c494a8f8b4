#pragma once

#include "base/timetext.h"
#include "logic/calendar/plan.h"
#include "logic/schedule/schedule.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <vector>

namespace kestra::week {

inline constexpr int kSecondsPerWeek = 7 * kSecondsPerDay;

// A second of the week as the day toggles count it: Sunday 00:00:00 is 0,
// Saturday 23:59:59 is kSecondsPerWeek - 1. Wall-clock time, as the ticks read
// it: every day has 86400 of them, whatever the clock changes do.
int weekSecond(int day, int secondOfDay);
int weekSecondOf(const QDateTime& t);
// "Mon 12:00:01", with the day captions of the channel windows.
QString weekSecondText(int weekSecond);
QString dayCaption(int day); // 0 Sunday .. 6 Saturday

// Seconds `from` to `to` of the week, both ON. A period joined across
// Saturday-Sunday midnight has from > to.
struct Interval
{
    int from = 0;
    int to = 0;
    bool operator==(const Interval&) const = default;
};

// What a channel's controls make of its output over the week, before inputs
// and pulsing: exactly the seconds at which a tick would write "ON".
struct ChannelWeek
{
    // A time text does not convert: every tick fails and the status stays
    // where it was ("frozen at its last state"), whatever the mode.
    bool frozen = false;
    QString problem; // the failure's description
    // Sorted, disjoint and separated by at least one OFF second.
    std::vector<Interval> on;
    // With the calendar the days differ from week to week: `on` shows the
    // week the picture was made in, and `dated` holds the ON moments in real
    // time from its Sunday to eight days after the picture was made (sorted,
    // touching ones joined); `notes` says why a switching does not happen.
    bool calendar = false;
    std::vector<calendar::Span> dated;
    QStringList notes;
    // By day of the week shown in `on` (0 Sunday): the notes of the
    // switchings that day loses to a missing sunrise or sunset.
    std::array<QStringList, 7> missed;

    bool operator==(const ChannelWeek&) const = default;

    bool isOn(int weekSecond) const;
    // The ON period holding `weekSecond`, joined across the end of the week.
    std::optional<Interval> periodAt(int weekSecond) const;
    // Seconds from `weekSecond` to the next second whose state differs from it
    // (1 .. kSecondsPerWeek - 1), counting round the end of the week; nothing
    // when the state never changes.
    std::optional<int> nextChange(int weekSecond) const;
    // The ON periods, those across the end of the week joined.
    std::vector<Interval> periods() const;
};

// From each kind's bounds, the days, the mode and (for a text that does not
// convert) the freeze, as the evaluation decides them.
ChannelWeek weekOf(const channels::ChannelControls& c);
// The same with the calendar's additions, for the week of `now` and the eight
// days after it; exactly weekOf(c) when the calendar does not touch the output.
ChannelWeek weekOf(const channels::ChannelControls& c, const calendar::Settings* s, const QDateTime& now);

} // namespace kestra::week
