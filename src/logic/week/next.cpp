#include "logic/week/next.h"

#include "base/clock.h"

#include <QLocale>
#include <QStringList>
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

// "Mon 7 Dec 2026 at 12:00:06"
QString dateText(const QDateTime& t)
{
    return QStringLiteral("%1 %2 at %3")
        .arg(dayCaption(weekdayNumber(t.date()) - 1),
             QLocale::c().toString(t.date(), QStringLiteral("d MMM yyyy")),
             t.time().toString(QStringLiteral("hh:mm:ss")));
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
    if (week.calendar) {
        // Real moments already: the first edge after now.
        for (const calendar::Span& s : week.dated) {
            if (s.to < t0) continue;
            const bool inside = s.from <= t0;
            const qint64 at = inside ? s.to + 1 : s.from;
            if (at >= end) break;
            next.kind = NextSwitching::Kind::At;
            next.at = moment(now, at * 1000);
            next.on = !inside;
            next.why = calendar::reasonText(inside ? s.end : s.start);
            break;
        }
        // Nothing switches: say why when the sun is the reason.
        if (next.kind == NextSwitching::Kind::None && !week.notes.isEmpty()) next.why = week.notes.first();
        return next;
    }
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
    next.pulse = pulse;
    const PulsePlan::Phase phase = pulse.phaseAt(now.toMSecsSinceEpoch());
    if (pulse.endless) return next;
    next.kind = NextSwitching::Kind::At;
    next.at = moment(now, phase.end);
    next.on = !phase.on;
    return next;
}

QString nextSwitchingText(const NextSwitching& next, bool inItsWindow)
{
    // The phases come too fast to be read one by one.
    if (next.pulse) return next.pulse->describe();
    switch (next.kind) {
    case NextSwitching::Kind::Frozen:
        return QStringLiteral("frozen at its last state");
    case NextSwitching::Kind::None:
        return next.why.isEmpty() ? QStringLiteral("no switching this week")
                                  : QStringLiteral("no switching this week: %1").arg(next.why);
    case NextSwitching::Kind::NoMode:
        return inItsWindow ? QStringLiteral("no mode chosen: select AUTO above")
                           : QStringLiteral("no mode chosen: select AUTO in its window");
    case NextSwitching::Kind::Held:
        return QStringLiteral("held %1 until %2")
            .arg(stateText(next.on), next.at.time().toString(QStringLiteral("hh:mm:ss")));
    case NextSwitching::Kind::At:
        break;
    }
    const QString why = next.why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(next.why);
    return QStringLiteral("next: %1 %2 %3%4")
        .arg(dayCaption(weekdayNumber(next.at.date()) - 1), next.at.time().toString(QStringLiteral("hh:mm:ss")),
             stateText(next.on), why);
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
    case NextSwitching::Kind::NoMode:
        return QStringLiteral("No mode chosen: the output stays OFF, and its days, times and inputs do "
                              "nothing. Select AUTO in its window (or ON or OFF) and press OK.");
    case NextSwitching::Kind::Held:
        return QStringLiteral("Held %1 by input 3 until %2, then by its schedule again (as it stands: "
                              "while input 3 is on, the hold runs on).")
            .arg(stateText(next.on), dateText(next.at));
    case NextSwitching::Kind::At:
        break;
    }
    QString pulse;
    if (next.pulse) {
        pulse = next.pulse->describe() + QStringLiteral(". ");
        pulse[0] = pulse[0].toUpper();
    }
    const QString why = next.why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(next.why);
    return QStringLiteral("%1Next switching: %2 on %3%4").arg(pulse, stateText(next.on), dateText(next.at), why);
}

namespace {
// "1, 2, 4-8": a run of three or more as its ends.
QString outputList(const QList<int>& outputs)
{
    QStringList parts;
    for (qsizetype i = 0; i < outputs.size();) {
        qsizetype j = i;
        while (j + 1 < outputs.size() && outputs[j + 1] == outputs[j] + 1)
            ++j;
        if (j - i >= 2) {
            parts << QStringLiteral("%1\u2013%2").arg(outputs[i]).arg(outputs[j]);
        } else {
            for (qsizetype k = i; k <= j; ++k)
                parts << QString::number(outputs[k]);
        }
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}
} // namespace

QString nextOverviewText(const std::array<NextSwitching, 8>& next)
{
    QList<int> noMode, pulsing;
    QStringList soonest;
    QDateTime at;
    for (int m = 1; m <= 8; ++m) {
        const NextSwitching& n = next[m - 1];
        if (n.kind == NextSwitching::Kind::NoMode) noMode << m;
        if (n.pulse) pulsing << m;
        const bool timed = n.kind == NextSwitching::Kind::At || n.kind == NextSwitching::Kind::Held;
        if (n.pulse || !timed || (at.isValid() && n.at > at)) continue;
        if (at.isValid() && n.at < at) soonest.clear();
        at = n.at;
        const QString when = QStringLiteral("%1 %2").arg(dayCaption(weekdayNumber(n.at.date()) - 1),
                                                         n.at.time().toString(QStringLiteral("hh:mm:ss")));
        soonest << (n.kind == NextSwitching::Kind::Held
                        ? QStringLiteral("output %1 held %2 until %3").arg(m).arg(stateText(n.on), when)
                        : QStringLiteral("output %1 %2 at %3").arg(m).arg(stateText(n.on), when));
    }
    if (!soonest.isEmpty()) {
        QString line = QStringLiteral("Next: ") + soonest.join(QStringLiteral("; "));
        if (!noMode.isEmpty()) line += QStringLiteral(" \u00b7 no mode: ") + outputList(noMode);
        return line;
    }
    if (noMode.size() == 8)
        return QStringLiteral("No mode chosen on any output: select AUTO in their windows");
    if (noMode.size() == 1)
        return QStringLiteral("No mode chosen on output %1: select AUTO in its window").arg(noMode.first());
    if (!noMode.isEmpty())
        return QStringLiteral("No mode chosen on outputs %1: select AUTO").arg(outputList(noMode));
    if (!pulsing.isEmpty())
        return QStringLiteral("No switching this week but the pulsing of output%1 %2")
            .arg(pulsing.size() == 1 ? QString() : QStringLiteral("s"), outputList(pulsing));
    return QStringLiteral("No switching this week");
}

} // namespace kestra::week
