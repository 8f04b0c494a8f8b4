#include "week/next.h"

#include "common/clock.h"

#include <QLocale>
#include <QTimeZone>

namespace kestra::week {

namespace {
// The week second a wall clock at UTC offset `offset` shows at `secs` since the epoch.
int wallWeekSecond(qint64 secs, int offset)
{
    const qint64 wall = secs + offset;
    const qint64 days = wall >= 0 ? wall / kSecondsPerDay : (wall - kSecondsPerDay + 1) / kSecondsPerDay;
    const int day = int(((days + 4) % 7 + 7) % 7); // 1 January 1970 was a Thursday
    return weekSecond(day, int(wall - days * kSecondsPerDay));
}

QDateTime moment(const QDateTime& like, qint64 msecs)
{
    QDateTime t = like; // keeps its time zone
    t.setMSecsSinceEpoch(msecs);
    return t;
}

QString stateText(bool on)
{
    return on ? QStringLiteral("ON") : QStringLiteral("OFF");
}
} // namespace

NextSwitching nextSwitching(const ChannelWeek& week, const QDateTime& now)
{
    NextSwitching next;
    if (week.frozen) {
        next.kind = NextSwitching::Kind::Frozen;
        return next;
    }
    const qint64 t0 = now.toSecsSinceEpoch();
    const qint64 end = t0 + kSecondsPerWeek;
    int offset = now.offsetFromUtc();
    const bool state = week.isOn(wallWeekSecond(t0, offset));

    // Between two offset changes the wall clock runs with real time.
    const auto within = [&](qint64 from, qint64 to) -> std::optional<qint64> {
        const int ws = wallWeekSecond(from, offset);
        if (week.isOn(ws) != state) return from;
        const std::optional<int> d = week.nextChange(ws);
        if (d && from + *d < to) return from + *d;
        return std::nullopt;
    };
    std::optional<qint64> found;
    qint64 from = t0;
    const QTimeZone zone = now.timeZone();
    if (zone.isValid() && zone.hasTransitions()) {
        for (const QTimeZone::OffsetData& change : zone.transitions(now, now.addSecs(kSecondsPerWeek))) {
            const qint64 at = change.atUtc.toSecsSinceEpoch();
            if (at <= from) continue;
            if (at >= end) break;
            if ((found = within(from, at))) break;
            from = at;
            offset = change.offsetFromUtc;
        }
    }
    if (!found) found = within(from, end);
    if (found) {
        next.kind = NextSwitching::Kind::At;
        next.at = moment(now, *found * 1000);
        next.on = !state;
    }
    return next;
}

NextSwitching nextSwitching(const PulsePlan& pulse, const QDateTime& now)
{
    NextSwitching next;
    next.pulse = true;
    const PulsePlan::Phase phase = pulse.phaseAt(now.toMSecsSinceEpoch());
    if (pulse.endless) return next;
    next.kind = NextSwitching::Kind::At;
    next.at = moment(now, phase.end);
    next.on = !phase.on;
    return next;
}

QString nextSwitchingText(const NextSwitching& next)
{
    switch (next.kind) {
    case NextSwitching::Kind::Frozen:
        return QStringLiteral("frozen at its last state");
    case NextSwitching::Kind::None:
        return QStringLiteral("no switching this week");
    case NextSwitching::Kind::At:
        break;
    }
    return QStringLiteral("next: %1 %2 %3")
        .arg(dayCaption(weekdayNumber(next.at.date()) - 1),
             next.at.time().toString(QStringLiteral("hh:mm:ss")), stateText(next.on));
}

QString nextSwitchingToolTip(const NextSwitching& next)
{
    switch (next.kind) {
    case NextSwitching::Kind::Frozen:
        return QStringLiteral("A time text of this output does not convert: it is frozen at its last state "
                              "until the text is corrected.");
    case NextSwitching::Kind::None:
        return next.pulse ? QStringLiteral("Pulsing: the running phase does not end by itself.")
                          : QStringLiteral("No switching this week.");
    case NextSwitching::Kind::At:
        break;
    }
    return QStringLiteral("%1Next switching: %2 on %3 %4 at %5")
        .arg(next.pulse ? QStringLiteral("Pulsing. ") : QString(), stateText(next.on),
             dayCaption(weekdayNumber(next.at.date()) - 1),
             QLocale::c().toString(next.at.date(), QStringLiteral("d MMM yyyy")),
             next.at.time().toString(QStringLiteral("hh:mm:ss")));
}

} // namespace kestra::week
