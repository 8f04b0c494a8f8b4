#include "logic/week/intervals.h"

#include "base/clock.h"
#include "base/failure.h"

#include <algorithm>

namespace kestra::week {

using channels::Kind;
using channels::Mode;

namespace {
constexpr int kLastSecond = kSecondsPerDay - 1;
const char* const kDayCaptions[7] = {"Sun", "Mon", "Tue", "Wed", "Thr", "Fri", "Sat"};
} // namespace

int weekSecond(int day, int secondOfDay)
{
    return day * kSecondsPerDay + secondOfDay;
}

int weekSecondOf(const QDateTime& t)
{
    return weekSecond(weekdayNumber(t.date()) - 1, secondsOfDay(t));
}

QString dayCaption(int day)
{
    return QLatin1String(kDayCaptions[((day % 7) + 7) % 7]);
}

QString weekSecondText(int ws)
{
    return dayCaption(ws / kSecondsPerDay) + QLatin1Char(' ') + formatTime(ws % kSecondsPerDay);
}

bool ChannelWeek::isOn(int ws) const
{
    const auto it =
        std::upper_bound(on.begin(), on.end(), ws, [](int s, const Interval& i) { return s < i.from; });
    return it != on.begin() && std::prev(it)->to >= ws;
}

std::optional<Interval> ChannelWeek::periodAt(int ws) const
{
    const auto it =
        std::upper_bound(on.begin(), on.end(), ws, [](int s, const Interval& i) { return s < i.from; });
    if (it == on.begin() || std::prev(it)->to < ws) return std::nullopt;
    Interval p = *std::prev(it);
    const bool wraps = on.size() > 1 && on.front().from == 0 && on.back().to == kSecondsPerWeek - 1;
    if (wraps && p.to == kSecondsPerWeek - 1) p.to = on.front().to;
    if (wraps && p.from == 0) p.from = on.back().from;
    return p;
}

std::optional<int> ChannelWeek::nextChange(int ws) const
{
    if (on.empty()) return std::nullopt;
    const auto it =
        std::upper_bound(on.begin(), on.end(), ws, [](int s, const Interval& i) { return s < i.from; });
    if (it != on.begin() && std::prev(it)->to >= ws) {
        const Interval& cur = *std::prev(it);
        if (cur.to < kSecondsPerWeek - 1) return cur.to + 1 - ws;
        // ON into Sunday 00:00:00: the period goes on if the week starts ON.
        if (on.front().from != 0) return kSecondsPerWeek - ws;
        if (on.size() == 1) return std::nullopt; // ON all week
        return kSecondsPerWeek + on.front().to + 1 - ws;
    }
    if (it != on.end()) return it->from - ws;
    return kSecondsPerWeek + on.front().from - ws;
}

std::vector<Interval> ChannelWeek::periods() const
{
    std::vector<Interval> out = on;
    if (out.size() > 1 && out.front().from == 0 && out.back().to == kSecondsPerWeek - 1) {
        out.front().from = out.back().from;
        out.pop_back();
    }
    return out;
}

ChannelWeek weekOf(const channels::ChannelControls& c)
{
    ChannelWeek w;
    std::vector<channels::Switching> sw;
    try {
        sw = channels::convertSwitchings(c);
    } catch (const Failure& f) {
        w.frozen = true;
        w.problem = f.description;
        return w;
    }
    if (c.mode == Mode::On) {
        w.on.push_back({0, kSecondsPerWeek - 1});
        return w;
    }
    if (c.mode != Mode::Auto) return w;

    std::vector<Interval> raw;
    // Nothing carries over midnight: a day's part ends at 23:59:59.
    const auto add = [&](int day, int from, int to) {
        to = std::min(to, kLastSecond);
        if (from <= to) raw.push_back({weekSecond(day, from), weekSecond(day, to)});
    };
    for (int day = 0; day < 7; ++day) {
        switch (channels::kindOf(c.channel)) {
        case Kind::Single:
            // Both ends excluded: from the second after the start to the second before the end.
            if (c.days[day]) add(day, sw[0].start + 1, sw[0].start + sw[0].run - 1);
            break;
        case Kind::Double:
        case Kind::Multi:
            if (c.days[day])
                for (const channels::Switching& s : sw)
                    add(day, s.start, s.start + s.run);
            break;
        case Kind::StartFinish: {
            const int start = sw[0].start;
            const int finish = sw[0].run;
            if (finish < start) {
                if (c.days[day]) add(day, start, kLastSecond);
                if (c.finishDays[day]) add(day, 0, finish);
            } else if (finish > start && c.days[day] && c.finishDays[day]) {
                add(day, start, finish);
            }
            break;
        }
        }
    }
    std::sort(raw.begin(), raw.end(), [](const Interval& a, const Interval& b) { return a.from < b.from; });
    for (const Interval& i : raw) {
        if (!w.on.empty() && i.from <= w.on.back().to + 1)
            w.on.back().to = std::max(w.on.back().to, i.to);
        else
            w.on.push_back(i);
    }
    return w;
}

} // namespace kestra::week
