#include "logic/calendar/settings.h"

#include "base/failure.h"
#include "base/timetext.h"

#include <QJsonArray>
#include <QLocale>
#include <QRegularExpression>
#include <cmath>

namespace kestra::calendar {

namespace {
const char* const kTwilightNames[] = {"official", "civil", "nautical", "astronomical"};
const char* const kAnchorNames[] = {"clock", "run", "sunrise", "sunset"};
const char* const kActionKeys[] = {"off", "on", "sunday"};

[[noreturn]] void refuse(const QString& what)
{
    throw Failure(failure::kConversion, what);
}

QString dayText(const QDate& d)
{
    return d.toString(Qt::ISODate);
}

QString anchorFault(const Anchor& a, const QString& where)
{
    if (std::abs(a.offset) > kMaxOffsetSeconds)
        return QStringLiteral("%1: offset %2 is more than 4 hours").arg(where, offsetText(a.offset));
    for (const auto& limit : {a.notBefore, a.notAfter})
        if (limit && (*limit < 0 || *limit >= kSecondsPerDay))
            return QStringLiteral("%1: a clock limit must lie within the day").arg(where);
    if (a.notBefore && a.notAfter && *a.notBefore > *a.notAfter)
        return QStringLiteral("%1: \"not before\" %2 is later than \"not after\" %3")
            .arg(where, formatTime(*a.notBefore), formatTime(*a.notAfter));
    if (!a.isSun() && (a.offset || a.notBefore || a.notAfter))
        return QStringLiteral("%1: an offset or a limit needs sunrise or sunset").arg(where);
    return {};
}

QJsonObject anchorJson(const Anchor& a)
{
    QJsonObject o{{QStringLiteral("kind"), anchorKindName(a.kind)}};
    if (a.offset) o[QStringLiteral("offset")] = a.offset;
    if (a.notBefore) o[QStringLiteral("notBefore")] = formatTime(*a.notBefore);
    if (a.notAfter) o[QStringLiteral("notAfter")] = formatTime(*a.notAfter);
    return o;
}

Anchor anchorFrom(const QJsonObject& o)
{
    Anchor a;
    const auto kind = anchorKindFromName(o.value(QStringLiteral("kind")).toString());
    if (!kind) refuse(QStringLiteral("an anchor of unknown kind"));
    a.kind = *kind;
    a.offset = o.value(QStringLiteral("offset")).toInt();
    for (auto [key, limit] : {std::pair{"notBefore", &a.notBefore}, std::pair{"notAfter", &a.notAfter}}) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined()) continue;
        const auto t = tryParseTime(v.toString());
        if (!t) refuse(QStringLiteral("a clock limit that is not a time: %1").arg(v.toString()));
        *limit = *t;
    }
    return a;
}
} // namespace

double horizonOf(Twilight t)
{
    switch (t) {
    case Twilight::Civil:
        return -6.0;
    case Twilight::Nautical:
        return -12.0;
    case Twilight::Astronomical:
        return -18.0;
    case Twilight::Official:
        break;
    }
    return -0.833;
}

QString twilightName(Twilight t)
{
    return QLatin1String(kTwilightNames[int(t)]);
}

std::optional<Twilight> twilightFromName(const QString& name)
{
    for (int i = 0; i < 4; ++i)
        if (name.compare(QLatin1String(kTwilightNames[i]), Qt::CaseInsensitive) == 0) return Twilight(i);
    return std::nullopt;
}

QString anchorKindName(Anchor::Kind k)
{
    return QLatin1String(kAnchorNames[int(k)]);
}

std::optional<Anchor::Kind> anchorKindFromName(const QString& name)
{
    for (int i = 0; i < 4; ++i)
        if (name == QLatin1String(kAnchorNames[i])) return Anchor::Kind(i);
    return std::nullopt;
}

SwitchingAnchors OutputCalendar::anchors(int k) const
{
    return k >= 0 && size_t(k) < switchings.size() ? switchings[k] : SwitchingAnchors{};
}

bool OutputCalendar::isDefault() const
{
    if (presenceMinutes) return false;
    for (const SwitchingAnchors& s : switchings)
        if (!s.isDefault()) return false;
    return true;
}

bool Holiday::covers(const QDate& date) const
{
    if (!everyYear) return from <= date && date <= to;
    // The period as it falls in the date's year, or as it began the year before.
    for (int back : {0, 1}) {
        const int years = date.year() - back - from.year();
        if (from.addYears(years) <= date && date <= to.addYears(years)) return true;
    }
    return false;
}

QString actionName(Holiday::Action a)
{
    switch (a) {
    case Holiday::Action::On:
        return QStringLiteral("ON");
    case Holiday::Action::AsSunday:
        return QStringLiteral("as on Sunday");
    case Holiday::Action::Off:
        break;
    }
    return QStringLiteral("OFF");
}

const Holiday* Settings::holidayFor(int output, const QDate& date) const
{
    for (const Holiday& h : holidays)
        if (h.names(output) && h.covers(date)) return &h;
    return nullptr;
}

bool Settings::touches(int output, const QDate& date) const
{
    return !outputs[output - 1].isDefault() || holidayFor(output, date);
}

bool Settings::touchesAny(int output) const
{
    if (!outputs[output - 1].isDefault()) return true;
    for (const Holiday& h : holidays)
        if (h.names(output)) return true;
    return false;
}

QString fault(const Settings& s)
{
    if (s.place.set) {
        if (!std::isfinite(s.place.latitude) || std::abs(s.place.latitude) > 90)
            return QStringLiteral("latitude %1 is out of -90..90").arg(s.place.latitude);
        if (!std::isfinite(s.place.longitude) || std::abs(s.place.longitude) > 180)
            return QStringLiteral("longitude %1 is out of -180..180").arg(s.place.longitude);
        if (s.place.name.size() > 200)
            return QStringLiteral("the place's name is longer than 200 characters");
    }
    for (int m = 1; m <= 8; ++m) {
        const OutputCalendar& o = s.outputs[m - 1];
        if (o.presenceMinutes < 0 || o.presenceMinutes > kMaxPresenceMinutes)
            return QStringLiteral("output %1: presence %2 minutes is out of 0..60")
                .arg(m)
                .arg(o.presenceMinutes);
        if (o.switchings.size() > 10) return QStringLiteral("output %1: more than ten switchings").arg(m);
        for (size_t k = 0; k < o.switchings.size(); ++k) {
            const QString where = QStringLiteral("output %1, switching %2").arg(m).arg(QChar('a' + int(k)));
            if (o.switchings[k].start.kind == Anchor::Kind::Run)
                return where + QStringLiteral(": a start cannot keep the run time");
            for (const Anchor* a : {&o.switchings[k].start, &o.switchings[k].end}) {
                const QString f =
                    anchorFault(*a, where + (a == &o.switchings[k].start ? QStringLiteral(" start")
                                                                         : QStringLiteral(" end")));
                if (!f.isEmpty()) return f;
            }
        }
    }
    if (s.holidays.size() > size_t(kMaxHolidays))
        return QStringLiteral("more than %1 holiday periods").arg(kMaxHolidays);
    for (const Holiday& h : s.holidays) {
        const QString name = h.name.isEmpty() ? QStringLiteral("a holiday period")
                                              : QStringLiteral("holiday \"%1\"").arg(h.name);
        if (!h.from.isValid() || !h.to.isValid()) return name + QStringLiteral(": a date is not valid");
        if (h.to < h.from)
            return QStringLiteral("%1 ends (%2) before it starts (%3)")
                .arg(name, dayText(h.to), dayText(h.from));
        if (h.everyYear && h.to >= h.from.addYears(1))
            return name + QStringLiteral(": a period of every year must be shorter than a year");
        if (h.name.size() > 200)
            return name.left(40) + QStringLiteral("...: the name is longer than 200 characters");
    }
    return {};
}

QJsonObject toJson(const Settings& s)
{
    QJsonObject o;
    if (s.place.set)
        o[QStringLiteral("place")] = QJsonObject{{QStringLiteral("latitude"), s.place.latitude},
                                                 {QStringLiteral("longitude"), s.place.longitude},
                                                 {QStringLiteral("name"), s.place.name}};
    o[QStringLiteral("twilight")] = twilightName(s.twilight);
    o[QStringLiteral("seed")] = QString::number(s.seed);
    QJsonArray outputs;
    for (const OutputCalendar& oc : s.outputs) {
        QJsonArray sw;
        for (const SwitchingAnchors& a : oc.switchings)
            sw.append(QJsonObject{{QStringLiteral("start"), anchorJson(a.start)},
                                  {QStringLiteral("end"), anchorJson(a.end)}});
        outputs.append(QJsonObject{{QStringLiteral("switchings"), sw},
                                   {QStringLiteral("presence"), oc.presenceMinutes}});
    }
    o[QStringLiteral("outputs")] = outputs;
    QJsonArray holidays;
    for (const Holiday& h : s.holidays)
        holidays.append(QJsonObject{{QStringLiteral("name"), h.name},
                                    {QStringLiteral("from"), dayText(h.from)},
                                    {QStringLiteral("to"), dayText(h.to)},
                                    {QStringLiteral("everyYear"), h.everyYear},
                                    {QStringLiteral("outputs"), int(h.outputs)},
                                    {QStringLiteral("action"), QLatin1String(kActionKeys[int(h.action)])}});
    o[QStringLiteral("holidays")] = holidays;
    return o;
}

Settings fromJson(const QJsonObject& o)
{
    Settings s;
    if (o.contains(QStringLiteral("place"))) {
        const QJsonObject p = o.value(QStringLiteral("place")).toObject();
        s.place.set = true;
        s.place.latitude = p.value(QStringLiteral("latitude")).toDouble(NAN);
        s.place.longitude = p.value(QStringLiteral("longitude")).toDouble(NAN);
        s.place.name = p.value(QStringLiteral("name")).toString();
    }
    const auto tw =
        twilightFromName(o.value(QStringLiteral("twilight")).toString(QStringLiteral("official")));
    if (!tw) refuse(QStringLiteral("an unknown twilight"));
    s.twilight = *tw;
    bool ok = false;
    s.seed = o.value(QStringLiteral("seed")).toString().toULongLong(&ok);
    if (!ok) refuse(QStringLiteral("the presence seed is not a number"));
    const QJsonArray outputs = o.value(QStringLiteral("outputs")).toArray();
    for (int m = 0; m < 8 && m < outputs.size(); ++m) {
        const QJsonObject oc = outputs[m].toObject();
        s.outputs[m].presenceMinutes = oc.value(QStringLiteral("presence")).toInt();
        for (const QJsonValue& v : oc.value(QStringLiteral("switchings")).toArray())
            s.outputs[m].switchings.push_back(
                {anchorFrom(v.toObject().value(QStringLiteral("start")).toObject()),
                 anchorFrom(v.toObject().value(QStringLiteral("end")).toObject())});
    }
    for (const QJsonValue& v : o.value(QStringLiteral("holidays")).toArray()) {
        const QJsonObject h = v.toObject();
        Holiday hol;
        hol.name = h.value(QStringLiteral("name")).toString();
        hol.from = QDate::fromString(h.value(QStringLiteral("from")).toString(), Qt::ISODate);
        hol.to = QDate::fromString(h.value(QStringLiteral("to")).toString(), Qt::ISODate);
        hol.everyYear = h.value(QStringLiteral("everyYear")).toBool();
        hol.outputs = quint8(h.value(QStringLiteral("outputs")).toInt());
        const QString action = h.value(QStringLiteral("action")).toString();
        int a = 0;
        while (a < 3 && action != QLatin1String(kActionKeys[a]))
            ++a;
        if (a == 3) refuse(QStringLiteral("holiday \"%1\": unknown action %2").arg(hol.name, action));
        hol.action = Holiday::Action(a);
        s.holidays.push_back(hol);
    }
    const QString f = fault(s);
    if (!f.isEmpty()) refuse(f);
    return s;
}

Place placeFromText(const QString& latitude, const QString& longitude, const QString& name)
{
    Place p;
    const QString lat = latitude.trimmed(), lon = longitude.trimmed();
    p.set = !lat.isEmpty() || !lon.isEmpty();
    if (p.set) {
        bool latOk = false, lonOk = false;
        p.latitude = QLocale::c().toDouble(lat, &latOk);
        p.longitude = QLocale::c().toDouble(lon, &lonOk);
        if (!latOk) refuse(QStringLiteral("latitude \"%1\" is not a number").arg(lat));
        if (!lonOk) refuse(QStringLiteral("longitude \"%1\" is not a number").arg(lon));
    }
    p.name = name.trimmed();
    return p;
}

int offsetFromText(const QString& text, const QString& where)
{
    const QString t = text.trimmed();
    if (t.isEmpty()) return 0;
    const auto o = parseOffset(t);
    if (!o) refuse(QStringLiteral("%1: offset \"%2\" is not -h:mm or minutes").arg(where, t));
    return *o;
}

std::optional<int> limitFromText(const QString& text, const QString& what)
{
    if (text.trimmed().isEmpty()) return std::nullopt;
    const auto t = tryParseTime(text.trimmed());
    if (!t) refuse(QStringLiteral("%1 \"%2\" is not a time hh:mm:ss").arg(what, text));
    return t;
}

QDate holidayDateFromText(const QString& holiday, const QString& text)
{
    const QString t = text.trimmed();
    const QDate d = QDate::fromString(t, Qt::ISODate);
    if (!d.isValid())
        refuse(QStringLiteral("holiday \"%1\": \"%2\" is not a date yyyy-mm-dd").arg(holiday, t));
    return d;
}

quint8 outputsFromText(const QString& holiday, const QString& text)
{
    quint8 outputs = 0;
    for (const QString& o : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const int m = o.toInt();
        if (m < 1 || m > 8)
            refuse(QStringLiteral("holiday \"%1\": output \"%2\" is not 1 to 8").arg(holiday, o));
        outputs |= quint8(1u << (m - 1));
    }
    return outputs;
}

QString offsetText(int seconds)
{
    const int a = std::abs(seconds);
    return QStringLiteral("%1%2:%3")
        .arg(seconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(a / 3600)
        .arg(a / 60 % 60, 2, 10, QLatin1Char('0'));
}

std::optional<int> parseOffset(const QString& text)
{
    static const QRegularExpression hm(QStringLiteral("^\\s*([+-]?)(\\d{1,2}):(\\d{2})\\s*$"));
    static const QRegularExpression mins(QStringLiteral("^\\s*([+-]?)(\\d{1,3})\\s*m?(in)?\\s*$"));
    if (const auto m = hm.match(text); m.hasMatch()) {
        if (m.captured(3).toInt() > 59) return std::nullopt;
        const int s = m.captured(2).toInt() * 3600 + m.captured(3).toInt() * 60;
        return m.captured(1) == QLatin1String("-") ? -s : s;
    }
    if (const auto m = mins.match(text); m.hasMatch()) {
        const int s = m.captured(2).toInt() * 60;
        return m.captured(1) == QLatin1String("-") ? -s : s;
    }
    return std::nullopt;
}

} // namespace kestra::calendar
