#include "logic/calendar/plan.h"

#include "base/clock.h"
#include "base/timetext.h"
#include "logic/calendar/localday.h"
#include "logic/calendar/sun.h"

#include <QLocale>
#include <algorithm>

namespace kestra::calendar {

using channels::Kind;
using channels::Mode;

namespace {
quint64 splitmix(quint64& state)
{
    quint64 z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void noteOnce(QStringList& notes, const QStringList& more)
{
    for (const QString& n : more)
        if (!notes.contains(n)) notes << n;
}

// "18 May"
QString dayText(const QDate& date)
{
    return QLocale::c().toString(date, QStringLiteral("d MMM"));
}

// One edge of a switching on the date, or nothing when its sun event is missing.
struct Edge
{
    qint64 at = 0;
    Reason reason = Reason::Clock;
};

class EdgeMaker
{
public:
    EdgeMaker(const Settings& s, const LocalDay& day, const QTimeZone& zone)
        : m_s(s), m_day(day), m_zone(zone)
    {}

    std::optional<Edge> make(const Anchor& a, int clockSecond, QStringList& notes)
    {
        if (!a.isSun()) return Edge{m_day.toUtc(clockSecond), Reason::Clock};
        if (!m_s.place.set) {
            // Without a place there is no sun to follow: the window's time stands.
            const QString note = QStringLiteral("no place set: the clock times stand");
            if (!notes.contains(note)) notes << note;
            return Edge{m_day.toUtc(clockSecond), Reason::Clock};
        }
        if (!m_sun) m_sun = sunDay(m_s.place, m_s.twilight, m_day.date(), m_zone);
        const bool rise = a.kind == Anchor::Kind::Sunrise;
        const std::optional<qint64> event = rise ? m_sun->rise : m_sun->set;
        if (!event) {
            const QString note = missingText(rise, rise ? m_sun->noRise : m_sun->noSet, m_day.date());
            if (!notes.contains(note)) notes << note;
            return std::nullopt;
        }
        if (!rise && *event < m_day.toUtc(12 * 3600)) {
            // The date's sunset is the one its wall clock shows: where the sun sets after
            // midnight, that is the evening before's. Said wherever the switching is shown.
            const QString note =
                QStringLiteral("the sunset of %1 comes at %2, after midnight: it ends the "
                               "evening of %3")
                    .arg(dayText(m_day.date()),
                         QDateTime::fromSecsSinceEpoch(*event, m_zone).toString(QStringLiteral("hh:mm")),
                         dayText(m_day.date().addDays(-1)));
            if (!told.contains(note)) told << note;
        }
        qint64 at = *event + a.offset;
        if (a.notBefore) at = std::max(at, m_day.toUtc(*a.notBefore));
        if (a.notAfter) at = std::min(at, m_day.toUtc(*a.notAfter));
        return Edge{at, rise ? Reason::Sunrise : Reason::Sunset};
    }

    // What the date's switchings are tied to, said though nothing is lost.
    QStringList told;

private:
    const Settings& m_s;
    const LocalDay& m_day;
    const QTimeZone& m_zone;
    std::optional<SunDay> m_sun;
};

Edge shifted(Edge e, int by)
{
    if (by == 0) return e;
    return Edge{e.at + by, e.reason == Reason::Clock ? Reason::Presence : e.reason};
}

// "no switching on 18 May: sunset -2:00 falls on 17 May"
QString movedNote(const QDate& date, const Anchor& start, int clockStart, qint64 landed,
                  const QTimeZone& zone)
{
    const QString what = start.isSun()
                             ? anchorKindName(start.kind) +
                                   (start.offset ? QLatin1Char(' ') + offsetText(start.offset) : QString())
                             : formatTime(clockStart) + QStringLiteral(" moved by presence");
    return QStringLiteral("no switching on %1: %2 falls on %3")
        .arg(dayText(date), what, dayText(QDateTime::fromSecsSinceEpoch(landed, zone).date()));
}

// Channel 7 on one date: its toggles and the two edges of its period. Whether
// the period runs over midnight is decided where the anchors and offsets put
// the edges, before presence moves them, so that a random shift never turns a
// short period into one of almost a day.
struct StartFinish
{
    enum class Shape { None, WithinDay, OverMidnight };
    bool open = false; // the date's own schedule decides (no holiday OFF or ON)
    bool startDay = false;
    bool finishDay = false;
    Shape shape = Shape::None;
    std::optional<Edge> start; // presence included
    std::optional<Edge> finish;
    QStringList why;  // missing sun events
    QStringList told; // what the edges are tied to
    qint64 first = 0;
    qint64 last = 0;

    bool complete() const { return open && start && finish; }
    // The period over midnight whose start moved past the date's end.
    bool startsLate() const
    {
        return complete() && shape == Shape::OverMidnight && startDay && start->at > last;
    }
    // The period within one day, wherever its moved edges put it.
    std::optional<Span> withinDay() const
    {
        if (!complete() || shape != Shape::WithinDay || !startDay || !finishDay) return std::nullopt;
        return Span{start->at, finish->at, start->reason, finish->reason};
    }
};

StartFinish startFinishOn(const channels::ChannelControls& c, const std::vector<channels::Switching>& sw,
                          const Settings& s, const QDate& date, const QTimeZone& zone)
{
    const int m = c.channel;
    const std::shared_ptr<const LocalDay> held = LocalDay::of(date, zone);
    StartFinish d;
    d.first = held->first();
    d.last = held->last();
    int weekday = weekdayNumber(date) - 1;
    if (const Holiday* h = s.holidayFor(m, date)) {
        if (h->action != Holiday::Action::AsSunday) return d;
        weekday = 0;
    }
    d.open = true;
    d.startDay = c.days[weekday];
    d.finishDay = c.finishDays[weekday];
    const OutputCalendar& oc = s.outputs[m - 1];
    const SwitchingAnchors a = oc.anchors(0);
    const Anchor end = a.end.kind == Anchor::Kind::Run ? Anchor{} : a.end; // a finish is a clock time
    EdgeMaker edges(s, *held, zone);
    const auto start = edges.make(a.start, sw[0].start, d.why);
    const auto finish = edges.make(end, sw[0].run, d.why);
    d.told = edges.told;
    if (!start || !finish) return d;
    d.shape = finish->at < start->at   ? StartFinish::Shape::OverMidnight
              : finish->at > start->at ? StartFinish::Shape::WithinDay
                                       : StartFinish::Shape::None;
    const std::vector<int> shifts = presenceShifts(s.seed, m, date, oc.presenceMinutes, int(sw.size()));
    d.start = shifted(*start, shifts[0]);
    d.finish = shifted(*finish, shifts[1]);
    return d;
}

// A period over midnight whose start moved past midnight starts on the next
// date at that moment and runs to that date's finish, when the next date is a
// finish day whose finish comes after it.
std::optional<Span> landing(const StartFinish& day, const StartFinish& next)
{
    if (!day.startsLate() || !next.complete() || !next.finishDay || next.finish->at < day.start->at)
        return std::nullopt;
    return Span{day.start->at, next.finish->at, day.start->reason, next.finish->reason};
}
} // namespace

channels::Cause causeOf(Reason r)
{
    switch (r) {
    case Reason::Sunrise:
        return channels::Cause::Sunrise;
    case Reason::Sunset:
        return channels::Cause::Sunset;
    case Reason::Holiday:
        return channels::Cause::Holiday;
    case Reason::Presence:
        return channels::Cause::Presence;
    case Reason::Clock:
        break;
    }
    return channels::Cause::Schedule;
}

QString reasonText(Reason r)
{
    switch (r) {
    case Reason::Sunrise:
        return QStringLiteral("sunrise");
    case Reason::Sunset:
        return QStringLiteral("sunset");
    case Reason::Holiday:
        return QStringLiteral("holiday");
    case Reason::Presence:
        return QStringLiteral("presence");
    case Reason::Clock:
        break;
    }
    return {};
}

bool DayPlan::isOn(qint64 t) const
{
    return std::any_of(on.begin(), on.end(), [t](const Span& s) { return s.from <= t && t <= s.to; });
}

Reason DayPlan::reasonAt(qint64 t) const
{
    Reason r = holiday.isEmpty() ? Reason::Clock : Reason::Holiday;
    for (const Span& s : on) {
        if (s.from > t) break;
        r = t <= s.to ? s.start : s.end;
    }
    return r;
}

std::vector<int> presenceShifts(quint64 seed, int output, const QDate& date, int minutes, int switchings)
{
    std::vector<int> out(size_t(2 * switchings), 0);
    if (minutes <= 0) return out;
    quint64 state = seed ^ (quint64(output) << 56) ^ quint64(date.toJulianDay());
    splitmix(state); // the first draw of neighbouring dates would be alike
    const quint64 range = quint64(2 * minutes * 60 + 1);
    for (int& v : out)
        v = int(splitmix(state) % range) - minutes * 60;
    return out;
}

std::optional<DayPlan> dayPlan(const channels::ChannelControls& c, const std::vector<channels::Switching>& sw,
                               const Settings& s, const QDate& date, const QTimeZone& zone)
{
    const int m = c.channel;
    if (!s.touches(m, date)) return std::nullopt;
    const std::shared_ptr<const LocalDay> held = LocalDay::of(date, zone);
    const LocalDay& day = *held;
    DayPlan plan;
    plan.date = date;
    plan.first = day.first();
    plan.last = day.last();
    if (c.mode != Mode::Auto) return plan; // the schedule step needs AUTO

    int weekday = weekdayNumber(date) - 1;
    if (const Holiday* h = s.holidayFor(m, date)) {
        plan.holiday = h->name.isEmpty() ? QStringLiteral("holiday") : h->name;
        if (h->action == Holiday::Action::Off) return plan;
        if (h->action == Holiday::Action::On) {
            plan.on.push_back({plan.first, plan.last, Reason::Holiday, Reason::Holiday});
            return plan;
        }
        weekday = 0; // as on Sunday
    }
    const OutputCalendar& oc = s.outputs[m - 1];
    const std::vector<int> shifts = presenceShifts(s.seed, m, date, oc.presenceMinutes, int(sw.size()));
    EdgeMaker edges(s, day, zone);
    std::vector<Span> raw;
    const auto add = [&](qint64 from, qint64 to, Reason a, Reason b) {
        from = std::max(from, plan.first);
        to = std::min(to, plan.last);
        if (from <= to) raw.push_back({from, to, a, b});
    };

    const Kind kind = channels::kindOf(m);
    if (kind == Kind::StartFinish) {
        const StartFinish today = startFinishOn(c, sw, s, date, zone);
        noteOnce(plan.notes, today.why);
        noteOnce(plan.notes, today.told);
        // Without its start the date cannot tell whether the finish closes last night's period.
        if ((!today.start || !today.finish) && (today.startDay || today.finishDay))
            noteOnce(plan.missed, today.why);
        if (today.complete() && today.shape == StartFinish::Shape::OverMidnight) {
            if (today.startDay) add(today.start->at, plan.last, today.start->reason, Reason::Clock);
            if (today.finishDay) add(plan.first, today.finish->at, Reason::Clock, today.finish->reason);
        }
        std::vector<std::optional<Span>> runs{today.withinDay()};
        if (!oc.isDefault()) {
            // Anchors, offsets and presence may move an edge across midnight:
            // the period then starts or ends on the date the edge lands on.
            const StartFinish before = startFinishOn(c, sw, s, date.addDays(-1), zone);
            const StartFinish after = startFinishOn(c, sw, s, date.addDays(1), zone);
            runs.insert(runs.end(), {before.withinDay(), after.withinDay(), landing(before, today)});
            if (today.startsLate() && !landing(today, after)) {
                const QString note = movedNote(date, oc.anchors(0).start, sw[0].start, today.start->at, zone);
                noteOnce(plan.notes, {note});
                noteOnce(plan.missed, {note});
            }
        }
        for (const std::optional<Span>& r : runs)
            if (r) add(r->from, r->to, r->start, r->end);
    } else if (c.days[weekday]) {
        for (size_t k = 0; k < sw.size(); ++k) {
            const SwitchingAnchors a = oc.anchors(int(k));
            QStringList why;
            const auto start = edges.make(a.start, sw[k].start, why);
            std::optional<Edge> end;
            if (a.end.kind == Anchor::Kind::Run) {
                if (start) end = Edge{start->at + sw[k].run, start->reason};
            } else {
                // The described end is start + run, not wrapped at midnight.
                end = edges.make(a.end, sw[k].start + sw[k].run, why);
            }
            noteOnce(plan.notes, why);
            if (!start || !end) {
                noteOnce(plan.missed, why);
                continue;
            }
            const Edge st = shifted(*start, shifts[2 * k]);
            const Edge en = a.end.kind == Anchor::Kind::Run ? Edge{st.at + sw[k].run, st.reason}
                                                            : shifted(*end, shifts[2 * k + 1]);
            // Both ends excluded for a single switching.
            const qint64 from = kind == Kind::Single ? st.at + 1 : st.at;
            const qint64 to = kind == Kind::Single ? en.at - 1 : en.at;
            if (from <= to && (to < plan.first || from > plan.last)) {
                // Moved off the date by its offset or presence: said, not lost in silence.
                const QString note = movedNote(date, a.start, sw[k].start, st.at, zone);
                noteOnce(plan.notes, {note});
                noteOnce(plan.missed, {note});
                continue;
            }
            add(from, to, st.reason, en.reason);
        }
        noteOnce(plan.notes, edges.told);
    }
    std::sort(raw.begin(), raw.end(), [](const Span& a, const Span& b) { return a.from < b.from; });
    for (const Span& sp : raw) {
        if (!plan.on.empty() && sp.from <= plan.on.back().to + 1) {
            if (sp.to > plan.on.back().to) {
                plan.on.back().to = sp.to;
                plan.on.back().end = sp.end;
            }
        } else {
            plan.on.push_back(sp);
        }
    }
    return plan;
}

void evaluate(const channels::ChannelControls& c, const Settings& s, const inputs::OverrideView& inputs,
              const QDateTime& now, State& status, channels::Cause* cause)
{
    if (!s.touches(c.channel, now.date())) {
        channels::evaluate(c, inputs, now, status, cause);
        return;
    }
    const std::vector<channels::Switching> sw = channels::convertSwitchings(c);
    const std::optional<DayPlan> plan = dayPlan(c, sw, s, now.date(), now.timeZone());
    const qint64 t = now.toSecsSinceEpoch();
    channels::finishTick(c, inputs, now, plan->isOn(t), causeOf(plan->reasonAt(t)), status, cause);
}

} // namespace kestra::calendar
