#include "logic/week/weekmodel.h"

#include "base/failure.h"

namespace kestra::week {

namespace {
// A pulse phase may end this much off the course first read before the
// picture is redrawn; a hold's end may move this much (input 3 still held
// moves it every second).
constexpr qint64 kPulseToleranceMs = 200;
constexpr qint64 kHoldToleranceSecs = 60;

bool sameHold(const std::optional<Hold>& a, const std::optional<Hold>& b)
{
    if (a.has_value() != b.has_value()) return false;
    return !a || (a->on == b->on && std::abs(a->until.secsTo(b->until)) < kHoldToleranceSecs);
}
} // namespace

std::optional<Hold> holdAsItStands(const channels::ChannelControls& c, const inputs::OverrideView& v,
                                   const QDateTime& now)
{
    const bool onBox = v.boxes[4] == inputs::kBoxSet;
    const bool offBox = v.boxes[5] == inputs::kBoxSet;
    if (c.mode != channels::Mode::Auto || (!onBox && !offBox)) return std::nullopt;
    std::optional<int> end;
    try {
        end = inputs::holdEnd(v, now);
    } catch (const Failure&) {
        return std::nullopt; // the channel's own tick reports it
    }
    if (!end) return std::nullopt;
    Hold h;
    h.on = !offBox; // the OFF rule comes last
    h.until = now;
    if (*end >= kSecondsPerDay) {
        h.until.setDate(now.date().addDays(1));
        h.until.setTime(QTime(0, 0));
    } else {
        h.until.setTime(QTime::fromMSecsSinceStartOfDay(*end * 1000));
    }
    return h;
}

NextSwitching nextSwitching(const ChannelPicture& picture, const std::optional<Hold>& hold,
                            const QDateTime& now)
{
    // Pulsing runs whatever the mode and the time texts; a freeze whatever the mode.
    if (picture.pulse) return nextSwitching(*picture.pulse, now);
    if (picture.week.frozen) return nextSwitching(picture.week, now);
    NextSwitching next;
    if (picture.mode == channels::Mode::None) {
        next.kind = NextSwitching::Kind::NoMode;
        return next;
    }
    if (hold && now < hold->until) {
        next.kind = NextSwitching::Kind::Held;
        next.at = hold->until;
        next.on = hold->on;
        return next;
    }
    return nextSwitching(picture.week, now);
}

WeekModel::WeekModel(const WeekSource& source, const Clock& clock, QObject* parent)
    : QObject(parent), m_source(source), m_clock(clock)
{
    for (int m = 1; m <= 8; ++m)
        m_entries[m - 1].picture.channel = m;
}

bool WeekModel::update(Entry& e, int channel, bool& recount)
{
    ChannelPicture& p = e.picture;
    bool changed = false;
    channels::ChannelControls c = m_source.controls(channel);
    std::shared_ptr<const calendar::Settings> cal = m_source.calendar();
    const bool calendarMoved = cal != e.calendar || (cal && m_now.date() != e.date);
    if (!e.known || !(c == e.controls) || calendarMoved) {
        e.controls = std::move(c);
        e.calendar = std::move(cal);
        e.date = m_now.date();
        ChannelWeek w = weekOf(e.controls, e.calendar.get(), m_now);
        recount = true;
        if (!e.known || !(w == p.week)) {
            p.week = std::move(w);
            changed = true;
        }
    }
    if (e.controls.mode != p.mode) {
        p.mode = e.controls.mode;
        changed = true;
    }
    const QString location = m_source.location(channel);
    if (location != p.location) {
        p.location = location;
        changed = true;
    }
    // Only exactly "ON" drives the output; "calculating" is OFF to the port.
    const QString frozenStatus =
        p.week.frozen ? stateText(m_source.state(channel) == State::On ? State::On : State::Off) : QString();
    if (frozenStatus != p.frozenStatus) {
        p.frozenStatus = frozenStatus;
        changed = true;
    }
    const std::optional<PulsePlan> pulse = m_source.pulse(channel, m_now.toMSecsSinceEpoch());
    if (pulse.has_value() != p.pulse.has_value() ||
        (pulse && !p.pulse->sameCourse(*pulse, kPulseToleranceMs))) {
        p.pulse = pulse;
        recount = true;
        changed = true;
    }
    const std::optional<Hold> hold = holdAsItStands(e.controls, m_source.inputs(channel), m_now);
    if (!sameHold(hold, p.hold)) {
        p.hold = hold;
        changed = true;
    }
    // The text names the hold's end to the second: while input 3 is still on
    // that moves every second.
    if (hold != e.hold) {
        e.hold = hold;
        recount = true;
    }
    e.known = true;
    return changed;
}

void WeekModel::refresh()
{
    const QDateTime now = m_clock.now();
    // A clock set back makes every next switching doubtful.
    const bool clockBack = m_now.isValid() && now < m_now;
    m_now = now;
    for (int m = 1; m <= 8; ++m) {
        Entry& e = m_entries[m - 1];
        const bool first = !e.known;
        bool recount = first || clockBack;
        if (update(e, m, recount)) emit pictureChanged(m);
        const bool timed = e.next.kind == NextSwitching::Kind::At || e.next.kind == NextSwitching::Kind::Held;
        if (timed && now >= e.next.at) recount = true;
        if (!recount) continue;
        const NextSwitching next = nextSwitching(e.picture, e.hold, now);
        if (next == e.next && !first) continue;
        e.next = next;
        emit nextChanged(m);
    }
    emit refreshed();
}

} // namespace kestra::week
