#pragma once

#include "logic/inputs/inputlogic.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <vector>

namespace kestra::channels {

enum class Kind {
    Single,      // channels 1, 2, 3, 6: one switching, both ends excluded
    Double,      // channels 4, 5: switchings a and b, both ends included
    StartFinish, // channel 7: start and finish time with start and finish days
    Multi,       // channel 8: ten switchings, both ends included
};
Kind kindOf(int channel);
// Number of start/run pairs the channel's window has (channel 7: start and finish).
int switchingCount(int channel);

enum class Mode { None, Auto, On, Off };
// A mode's name where clients read and send it (the API, the page): "AUTO",
// "ON", "OFF", "none"; and back (any case; "none" is no mode to choose).
QString modeName(Mode mode);
std::optional<Mode> parseMode(const QString& text);

// A start and a run, in seconds. The end is start + run, not wrapped at midnight.
struct Switching
{
    int start = 0;
    int run = 0;
};

// One switching of channels 1, 2, 3, 6: start < now < start + run.
bool singleSwitchingOn(int now, Switching s);
// One switching of channels 4, 5, 8: start <= now <= start + run.
bool inclusiveSwitchingOn(int now, Switching s);
// Channel 7 with start S and finish F (clock times), all end points included:
// over midnight (F < S) the evening part needs today's start day and the morning
// part today's finish day; within a day (F > S) both. F == S never switches on.
bool startFinishOn(int now, int start, int finish, bool startDay, bool finishDay);

// What a channel window's controls hold at the moment of a tick, saved or not.
struct ChannelControls
{
    int channel = 3;
    Mode mode = Mode::None;
    std::array<bool, 7> days{};       // Sunday .. Saturday
    std::array<bool, 7> finishDays{}; // channel 7 only
    QStringList starts;               // texts of the start boxes, switching a first
    QStringList runs;                 // texts of the run boxes (channel 7: the finish time)
    // What those texts convert to, where the holder converted them once when they
    // changed (the model's time fields do); empty or nullopt: converted here.
    std::vector<std::optional<int>> startSeconds;
    std::vector<std::optional<int>> runSeconds;

    bool operator==(const ChannelControls&) const = default;
};

// The time texts as a tick converts them: switching by switching, the run
// before the start (channel 7: finish, then start). A text that does not
// convert throws Failure 13.
std::vector<Switching> convertSwitchings(const ChannelControls& c);

// The schedule step of a tick at `second` (0 .. 86399) of weekday `day`
// (0 Sunday .. 6 Saturday): ON only in AUTO, by the day toggles and the
// converted switchings. Inputs and the manual modes come after it.
bool scheduleStep(const ChannelControls& c, const std::vector<Switching>& sw, int day, int second);

// Why a channel's status is what it is: the step that wrote it last.
enum class Cause {
    None,     // not evaluated yet ("calculating")
    Schedule, // the schedule step, no input rule and no manual mode over it
    Mode,     // the mode option ON or OFF, or no mode selected
    Input1,   // an input rule of input 1, 2 or 3 while the input reads ON
    Input2,
    Input3,
    Hold,  // the input 3 hold rule after input 3 was released
    Pulse, // pulse mode of channels 1 and 2
    // The schedule step, where the switching of the moment came from the calendar.
    Sunrise,
    Sunset,
    Holiday,
    Presence,
};

// One evaluation tick: converts the time texts in the channel's order, takes
// today's toggle, runs the schedule step, the input override step and the mode,
// writing each result into `status`. A text that does not convert throws
// Failure 13 and leaves `status` as the steps before left it.
// `cause`, when given, follows every write to `status`, so after a failure it
// still names the step that wrote what `status` keeps.
void evaluate(const ChannelControls& c, const inputs::OverrideView& inputs, const QDateTime& now,
              State& status, Cause* cause = nullptr);

// The steps of a tick after its schedule step: `scheduled` is what the
// schedule step gave and `why` names it (Cause::Schedule, or what the calendar
// moved). Writes `status` and `cause` as evaluate() does.
void finishTick(const ChannelControls& c, const inputs::OverrideView& inputs, const QDateTime& now,
                bool scheduled, Cause why, State& status, Cause* cause);

} // namespace kestra::channels
