#include "logic/week/table.h"

#include <QStringList>
#include <algorithm>

namespace kestra::week {

namespace {
QString field(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')) && text.trimmed() == text)
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}
} // namespace

QString weekCsv(const std::vector<ChannelPicture>& pictures, int firstDay)
{
    QString out = QStringLiteral("Output,Location,State,From,To,Note\r\n");
    for (const ChannelPicture& p : pictures) {
        const auto line = [&](const QString& state, const QString& from, const QString& to,
                              const QString& note) {
            out +=
                QStringList{
                    QString::number(p.channel), field(p.location), field(state), from, to, field(note)}
                    .join(QLatin1Char(',')) +
                QStringLiteral("\r\n");
        };
        if (p.pulse) {
            line(QStringLiteral("pulsing"), {}, {}, p.pulse->describe());
            continue;
        }
        if (p.week.frozen) {
            line(QStringLiteral("frozen at its last state"), {}, {},
                 p.frozenStatus + QStringLiteral(": ") + p.week.problem);
            continue;
        }
        std::vector<Interval> periods = p.week.periods();
        if (periods.empty())
            line(QStringLiteral("OFF"), {}, {},
                 p.mode == channels::Mode::None ? QStringLiteral("no mode chosen: select AUTO in its window")
                                                : QStringLiteral("no switching this week"));
        if (periods.size() == 1 && periods.front() == Interval{0, kSecondsPerWeek - 1}) {
            line(QStringLiteral("ON"), {}, {}, QStringLiteral("all week"));
            periods.clear();
        }
        const int shift = firstDay * kSecondsPerDay;
        std::sort(periods.begin(), periods.end(), [&](const Interval& a, const Interval& b) {
            return (a.from - shift + kSecondsPerWeek) % kSecondsPerWeek <
                   (b.from - shift + kSecondsPerWeek) % kSecondsPerWeek;
        });
        for (const Interval& i : periods)
            line(QStringLiteral("ON"), weekSecondText(i.from), weekSecondText(i.to), {});
        // The days the chart marks: a switching lost to a missing sunrise or sunset, or moved off its date.
        for (int column = 0; column < 7; ++column) {
            const int day = (firstDay + column) % 7;
            const QStringList& missed = p.week.missed[day];
            if (missed.isEmpty()) continue;
            line(QStringLiteral("switching lost"), weekSecondText(weekSecond(day, 0)),
                 weekSecondText(weekSecond(day, kSecondsPerDay - 1)), missed.join(QStringLiteral("; ")));
        }
        if (p.hold)
            line(p.hold->on ? QStringLiteral("held ON by input 3") : QStringLiteral("held OFF by input 3"),
                 {}, weekSecondText(weekSecondOf(p.hold->until.addSecs(-1))),
                 QStringLiteral("as it stands now"));
    }
    return out;
}

} // namespace kestra::week
