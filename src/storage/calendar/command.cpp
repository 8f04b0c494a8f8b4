#include "storage/calendar/command.h"

#include "base/failure.h"
#include "logic/calendar/sun.h"
#include "storage/calendar/file.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace kestra::calendar {

namespace {
QString placeText(const Place& p)
{
    const QString where = QStringLiteral("%1 %2, %3 %4")
                              .arg(std::abs(p.latitude), 0, 'f', 4)
                              .arg(p.latitude < 0 ? QLatin1Char('S') : QLatin1Char('N'))
                              .arg(std::abs(p.longitude), 0, 'f', 4)
                              .arg(p.longitude < 0 ? QLatin1Char('W') : QLatin1Char('E'));
    return p.name.isEmpty() ? where : QStringLiteral("%1 (%2)").arg(p.name, where);
}

int place(const QStringList& args, QTextStream& out, QTextStream& err, const CalendarFile& file,
          const PlaceToSwitch& toSwitch)
{
    if (args.size() < 3 || (args[1].trimmed().isEmpty() && args[2].trimmed().isEmpty())) {
        err << "usage: ctl place LATITUDE LONGITUDE [NAME]   (north and east positive, degrees)\n";
        return 2;
    }
    const QString name = args.mid(3).join(QLatin1Char(' '));
    Place p;
    try {
        p = placeFromText(args[1], args[2], name);
    } catch (const Failure& f) {
        err << "place refused: " << f.description << "\n";
        return 2;
    }
    const SwitchAnswer answer = toSwitch ? toSwitch(args[1], args[2], name) : SwitchAnswer{};
    switch (answer.outcome) {
    case SwitchAnswer::Outcome::Stored:
        out << "place set: " << placeText(p) << "\n";
        return 0;
    case SwitchAnswer::Outcome::Refused:
        err << "place refused: " << answer.text << "\n";
        return 1;
    case SwitchAnswer::Outcome::Unreachable:
        // Its settings stay its own: the file is not written behind its back.
        err << "place not set: the running switch does not answer (" << answer.text << ")\n";
        return 3;
    case SwitchAnswer::Outcome::NoSwitch:
        break;
    }
    try {
        Settings s = file.load();
        s.place = p;
        file.save(s);
    } catch (const Failure& f) {
        err << "place refused: " << f.description << "\n";
        return 1;
    }
    out << "place set: " << placeText(p) << "\n";
    return 0;
}

int sun(const QStringList& args, QTextStream& out, QTextStream& err, const CalendarFile& file,
        const QDate& today, const QTimeZone& zone)
{
    bool json = false;
    QDate date = today;
    for (const QString& a : args.mid(1)) {
        if (a == QLatin1String("--json")) {
            json = true;
            continue;
        }
        date = QDate::fromString(a, Qt::ISODate);
        if (!date.isValid()) {
            err << "usage: ctl sun [YYYY-MM-DD] [--json]   (\"" << a << "\" is not a date)\n";
            return 2;
        }
    }
    Settings s;
    try {
        s = file.load();
    } catch (const Failure& f) {
        err << f.description << "\n";
        return 1;
    }
    if (!s.place.set) {
        err << "no place set: kestra3 ctl place LATITUDE LONGITUDE [NAME]\n";
        return 1;
    }
    const SunDay d = sunDay(s.place, s.twilight, date, zone);
    const auto when = [&](const std::optional<qint64>& t) { return QDateTime::fromSecsSinceEpoch(*t, zone); };
    if (json) {
        QJsonObject o{{QStringLiteral("date"), date.toString(Qt::ISODate)},
                      {QStringLiteral("place"), QJsonObject{{QStringLiteral("latitude"), s.place.latitude},
                                                            {QStringLiteral("longitude"), s.place.longitude},
                                                            {QStringLiteral("name"), s.place.name}}},
                      {QStringLiteral("twilight"), twilightName(s.twilight)},
                      {QStringLiteral("horizon"), horizonOf(s.twilight)}};
        o[QStringLiteral("sunrise")] =
            d.rise
                ? QJsonValue(when(d.rise).toOffsetFromUtc(when(d.rise).offsetFromUtc()).toString(Qt::ISODate))
                : QJsonValue(QJsonValue::Null);
        o[QStringLiteral("sunset")] =
            d.set ? QJsonValue(when(d.set).toOffsetFromUtc(when(d.set).offsetFromUtc()).toString(Qt::ISODate))
                  : QJsonValue(QJsonValue::Null);
        if (!d.rise) o[QStringLiteral("noSunrise")] = missingText(true, d.noRise, date);
        if (!d.set) o[QStringLiteral("noSunset")] = missingText(false, d.noSet, date);
        out << QJsonDocument(o).toJson(QJsonDocument::Indented);
        return 0;
    }
    out << placeText(s.place) << ", " << QLocale::c().toString(date, QStringLiteral("ddd d MMM yyyy")) << ", "
        << twilightName(s.twilight) << " twilight (" << horizonOf(s.twilight) << "\u00b0)\n";
    out << "sunrise "
        << (d.rise ? when(d.rise).toString(QStringLiteral("hh:mm:ss")) : missingText(true, d.noRise, date))
        << "\n";
    out << "sunset  "
        << (d.set ? when(d.set).toString(QStringLiteral("hh:mm:ss")) : missingText(false, d.noSet, date));
    // The date's sunset is the one its clock shows, even the evening before's after midnight.
    if (d.set && when(d.set).time() < QTime(12, 0)) out << " (after midnight: the evening before's)";
    out << "\n";
    return 0;
}
} // namespace

int runCalendarCommand(const QStringList& args, QTextStream& out, QTextStream& err, const CalendarFile& file,
                       const PlaceToSwitch& toSwitch, const QDate& today, const QTimeZone& zone)
{
    const QString command = args.value(0);
    if (command == QLatin1String("place")) return place(args, out, err, file, toSwitch);
    if (command == QLatin1String("sun")) return sun(args, out, err, file, today, zone);
    err << "unknown calendar command \"" << command << "\": place, sun\n";
    return 2;
}

} // namespace kestra::calendar
