#include "logic/schedule/schedule.h"

#include "base/clock.h"
#include "base/timetext.h"

#include <algorithm>
#include <vector>

namespace kestra::channels {

Kind kindOf(int channel)
{
    switch (channel) {
    case 4:
    case 5:
        return Kind::Double;
    case 7:
        return Kind::StartFinish;
    case 8:
        return Kind::Multi;
    default:
        return Kind::Single;
    }
}

QString modeName(Mode mode)
{
    switch (mode) {
    case Mode::Auto:
        return QStringLiteral("AUTO");
    case Mode::On:
        return QStringLiteral("ON");
    case Mode::Off:
        return QStringLiteral("OFF");
    case Mode::None:
        break;
    }
    return QStringLiteral("none");
}

std::optional<Mode> parseMode(const QString& text)
{
    const QString t = text.trimmed().toUpper();
    if (t == QLatin1String("AUTO")) return Mode::Auto;
    if (t == QLatin1String("ON")) return Mode::On;
    if (t == QLatin1String("OFF")) return Mode::Off;
    return std::nullopt;
}

int switchingCount(int channel)
{
    switch (kindOf(channel)) {
    case Kind::Double:
        return 2;
    case Kind::Multi:
        return 10;
    default:
        return 1;
    }
}

bool singleSwitchingOn(int now, Switching s)
{
    return now > s.start && now < s.start + s.run;
}

bool inclusiveSwitchingOn(int now, Switching s)
{
    return s.start <= now && now <= s.start + s.run;
}

bool startFinishOn(int now, int start, int finish, bool startDay, bool finishDay)
{
    if (finish < start) return (startDay && now >= start) || (finishDay && now <= finish);
    if (finish > start) return startDay && finishDay && start <= now && now <= finish;
    return false;
}

std::vector<Switching> convertSwitchings(const ChannelControls& c)
{
    const int n = switchingCount(c.channel);
    std::vector<Switching> out;
    out.reserve(n);
    for (int k = 0; k < n; ++k) {
        Switching s;
        const auto known = [k](const std::vector<std::optional<int>>& seconds) {
            return size_t(k) < seconds.size() ? seconds[k] : std::nullopt;
        };
        // A text that does not convert has no value here, and throws as it always did.
        const std::optional<int> run = known(c.runSeconds), start = known(c.startSeconds);
        s.run = run ? *run : parseTime(c.runs.value(k));
        s.start = start ? *start : parseTime(c.starts.value(k));
        out.push_back(s);
    }
    return out;
}

bool scheduleStep(const ChannelControls& c, const std::vector<Switching>& sw, int day, int second)
{
    if (c.mode != Mode::Auto) return false;
    switch (kindOf(c.channel)) {
    case Kind::Single:
        return c.days[day] && singleSwitchingOn(second, sw[0]);
    case Kind::Double:
    case Kind::Multi:
        return c.days[day] && std::any_of(sw.begin(), sw.end(),
                                          [&](Switching s) { return inclusiveSwitchingOn(second, s); });
    case Kind::StartFinish:
        // The finish box holds a clock time here, not a run.
        return startFinishOn(second, sw[0].start, sw[0].run, c.days[day], c.finishDays[day]);
    }
    return false;
}

namespace {
// While input 3 reads ON its stamp is renewed on every cycle, so the hold rule
// only repeats what input 3 says: name input 3 then.
Cause causeOfRule(int rule, bool input3On)
{
    if (rule >= 7 && input3On) return Cause::Input3;
    switch (rule) {
    case 1:
    case 2:
        return Cause::Input1;
    case 3:
    case 4:
        return Cause::Input2;
    case 5:
    case 6:
        return Cause::Input3;
    default:
        return Cause::Hold;
    }
}
} // namespace

void evaluate(const ChannelControls& c, const inputs::OverrideView& inputs, const QDateTime& now,
              State& status, Cause* cause)
{
    const int t = secondsOfDay(now);
    const std::vector<Switching> sw = convertSwitchings(c);
    const int today = weekdayNumber(now.date()) - 1;
    finishTick(c, inputs, now, scheduleStep(c, sw, today, t), Cause::Schedule, status, cause);
}

void finishTick(const ChannelControls& c, const inputs::OverrideView& inputs, const QDateTime& now,
                bool scheduled, Cause why, State& status, Cause* cause)
{
    const bool autoMode = c.mode == Mode::Auto;
    status = stateOf(scheduled);
    // Without AUTO the schedule step gives OFF because of the mode.
    Cause decided = autoMode ? why : Cause::Mode;
    if (cause) *cause = decided;
    int rule = 0;
    // A hold rule that fails leaves the status of an earlier rule, so the cause
    // follows the rules even on the way out.
    const auto noteRule = [&] {
        if (rule) decided = causeOfRule(rule, inputs.input3);
        if (cause) *cause = decided;
    };
    try {
        inputs::applyOverride(autoMode, inputs, now, status, &rule);
    } catch (...) {
        noteRule();
        throw;
    }
    noteRule();
    if (c.mode == Mode::On) status = State::On;
    if (c.mode == Mode::Off) status = State::Off;
    if (cause && (c.mode == Mode::On || c.mode == Mode::Off)) *cause = Cause::Mode;
}

} // namespace kestra::channels
