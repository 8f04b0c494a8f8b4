#include "channels/schedule.h"

#include "common/clock.h"
#include "common/timetext.h"

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
    if (finish < start)
        return (startDay && now >= start) || (finishDay && now <= finish);
    if (finish > start)
        return startDay && finishDay && start <= now && now <= finish;
    return false;
}

std::vector<Switching> convertSwitchings(const ChannelControls& c)
{
    const int n = switchingCount(c.channel);
    std::vector<Switching> out;
    out.reserve(n);
    for (int k = 0; k < n; ++k) {
        Switching s;
        s.run = parseTime(c.runs.value(k));
        s.start = parseTime(c.starts.value(k));
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

void evaluate(const ChannelControls& c, const inputs::OverrideView& inputs, const QDateTime& now, QString& status)
{
    const int t = secondsOfDay(now);
    const std::vector<Switching> sw = convertSwitchings(c);
    const int today = weekdayNumber(now.date()) - 1;
    status = scheduleStep(c, sw, today, t) ? QStringLiteral("ON") : QStringLiteral("OFF");
    inputs::applyOverride(c.mode == Mode::Auto, inputs, now, status);
    if (c.mode == Mode::On)
        status = QStringLiteral("ON");
    if (c.mode == Mode::Off)
        status = QStringLiteral("OFF");
}

} // namespace kestra::channels
