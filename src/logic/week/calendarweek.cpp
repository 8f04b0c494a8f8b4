#include "base/clock.h"
#include "base/failure.h"
#include "logic/calendar/localday.h"
#include "logic/week/intervals.h"

#include <algorithm>

namespace kestra::week {

namespace {
constexpr int kDaysAhead = 8;

void join(std::vector<calendar::Span>& out, const calendar::Span& s)
{
    if (!out.empty() && s.from <= out.back().to + 1) {
        if (s.to > out.back().to) {
            out.back().to = s.to;
            out.back().end = s.end;
        }
        return;
    }
    out.push_back(s);
}

void joinWeek(std::vector<Interval>& out, Interval i)
{
    if (!out.empty() && i.from <= out.back().to + 1)
        out.back().to = std::max(out.back().to, i.to);
    else
        out.push_back(i);
}
} // namespace

ChannelWeek weekOf(const channels::ChannelControls& c, const calendar::Settings* s, const QDateTime& now)
{
    ChannelWeek described = weekOf(c);
    if (!s || described.frozen || c.mode != channels::Mode::Auto || !s->touchesAny(c.channel))
        return described;
    const std::vector<channels::Switching> sw = channels::convertSwitchings(c);
    const QTimeZone zone = now.timeZone();
    const QDate today = now.date();
    const QDate sunday = today.addDays(1 - weekdayNumber(today));
    const QDate lastDate = today.addDays(kDaysAhead);

    ChannelWeek w;
    w.calendar = true;
    for (QDate date = sunday; date <= lastDate; date = date.addDays(1)) {
        const int day = int(sunday.daysTo(date)) % 7;
        const bool shown = sunday.daysTo(date) < 7;
        const std::optional<calendar::DayPlan> plan = calendar::dayPlan(c, sw, *s, date, zone);
        const std::shared_ptr<const calendar::LocalDay> held = calendar::LocalDay::of(date, zone);
        const calendar::LocalDay& local = *held;
        std::vector<Interval> wall; // this day's part of the picture
        if (plan) {
            for (const calendar::Span& sp : plan->on) {
                join(w.dated, sp);
                // In the hour the clock repeats, an end may show an earlier wall time than its start.
                const int a = local.wallSecond(sp.from), b = local.wallSecond(sp.to);
                wall.push_back({weekSecond(day, std::min(a, b)), weekSecond(day, std::max(a, b))});
            }
            for (const QString& n : plan->notes)
                if (!w.notes.contains(n)) w.notes << n;
            if (shown) w.missed[day] = plan->missed;
        } else {
            // The described day, as the ticks read the wall clock through it.
            for (const Interval& i : described.on) {
                const int from = std::max(i.from, weekSecond(day, 0));
                const int to = std::min(i.to, weekSecond(day, kSecondsPerDay - 1));
                if (from > to) continue;
                wall.push_back({from, to});
                for (const auto& [a, b] : local.wallSpans(from - weekSecond(day, 0), to - weekSecond(day, 0)))
                    join(w.dated, {a, b, calendar::Reason::Clock, calendar::Reason::Clock});
            }
        }
        if (!shown) continue;
        std::sort(wall.begin(), wall.end(),
                  [](const Interval& a, const Interval& b) { return a.from < b.from; });
        for (const Interval& i : wall)
            joinWeek(w.on, i);
    }
    return w;
}

} // namespace kestra::week
