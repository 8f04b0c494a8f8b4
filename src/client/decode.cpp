#include "client/decode.h"

#include "base/failure.h"
#include "base/timetext.h"

#include <QDateTime>
#include <QJsonArray>
#include <cmath>

namespace kestra::client {

namespace {

qint64 phaseMs(const QString& entry, bool seconds)
{
    // ".5" is half a second on output 1; output 2 counts minutes.
    return std::llround(entry.toDouble() * (seconds ? 1000.0 : 60000.0));
}

calendar::Anchor anchorOf(const QJsonObject& o)
{
    calendar::Anchor a;
    a.kind = calendar::anchorKindFromName(o.value(QStringLiteral("kind")).toString()).value_or(a.kind);
    a.offset = o.value(QStringLiteral("offset")).toInt();
    for (auto [name, limit] : {std::pair{QStringLiteral("notBefore"), &a.notBefore},
                               std::pair{QStringLiteral("notAfter"), &a.notAfter}}) {
        const QJsonValue v = o.value(name);
        if (v.isString()) *limit = tryParseTime(v.toString());
    }
    return a;
}

QJsonValue limitText(const std::optional<int>& seconds)
{
    return seconds ? formatTime(*seconds) : QString();
}

QJsonObject holidayCommand(const calendar::Holiday& h)
{
    QJsonArray outputs;
    for (int m = 1; m <= 8; ++m)
        if (h.names(m)) outputs.append(m);
    return {{"command", "calendarHoliday"},
            {"name", h.name},
            {"from", h.from.toString(Qt::ISODate)},
            {"to", h.to.toString(Qt::ISODate)},
            {"everyYear", h.everyYear},
            {"outputs", outputs},
            {"action", calendar::actionName(h.action)}};
}

} // namespace

channels::ChannelControls controlsOf(const Output& o)
{
    channels::ChannelControls c;
    c.channel = o.number;
    c.mode = channels::parseMode(o.mode).value_or(channels::Mode::None);
    c.days = o.days;
    c.finishDays = o.finishDays;
    for (size_t i = 0; i < o.times.size(); ++i)
        (i % 2 == 0 ? c.starts : c.runs) << o.times[i].text;
    return c;
}

std::optional<week::PulsePlan> pulsePlanOf(const Output& o)
{
    const QJsonObject& p = o.pulse;
    if (!p.value(QStringLiteral("pulsing")).toBool()) return std::nullopt;
    const bool seconds = p.value(QStringLiteral("unit")).toString() == QLatin1String("s");
    week::PulsePlan plan;
    plan.on = p.value(QStringLiteral("phase")).toString() == QLatin1String("ON");
    plan.onMs = phaseMs(p.value(QStringLiteral("onSelection")).toString(), seconds);
    plan.offMs = phaseMs(p.value(QStringLiteral("offSelection")).toString(), seconds);
    const QDateTime end = QDateTime::fromString(p.value(QStringLiteral("phaseEnd")).toString(), Qt::ISODate);
    plan.endless = !end.isValid();
    plan.phaseEnd = end.isValid() ? end.toMSecsSinceEpoch() : 0;
    return plan;
}

inputs::OverrideView overrideOf(const QJsonObject& in, int output)
{
    inputs::OverrideView v;
    const QJsonArray levels = in.value(QStringLiteral("levels")).toArray();
    bool* active[] = {&v.input1, &v.input2, &v.input3};
    for (int n = 1; n <= 3; ++n)
        *active[n - 1] = levels.at(n - 1).toObject().value(QStringLiteral("on")).toBool();
    const QJsonArray mappings = in.value(QStringLiteral("mappings")).toArray();
    for (int n = 1; n <= 3; ++n) {
        const QJsonObject row = mappings.at(n - 1).toObject();
        v.boxes[size_t(2 * (n - 1))] = row.value(QStringLiteral("on")).toArray().at(output - 1).toInt();
        v.boxes[size_t(2 * (n - 1) + 1)] = row.value(QStringLiteral("off")).toArray().at(output - 1).toInt();
    }
    const QJsonObject hold = in.value(QStringLiteral("hold")).toObject();
    v.inp3Time = hold.value(QStringLiteral("text")).toString();
    v.inp3Start = hold.value(QStringLiteral("start")).toString();
    v.inp3Date = hold.value(QStringLiteral("date")).toString();
    return v;
}

calendar::Settings calendarOf(const QJsonObject& o)
{
    const QString problem = o.value(QStringLiteral("problem")).toString();
    if (!problem.isEmpty()) throw Failure(failure::kConversion, problem);
    calendar::Settings s;
    const QJsonObject place = o.value(QStringLiteral("place")).toObject();
    s.place.set = place.value(QStringLiteral("set")).toBool();
    s.place.latitude = place.value(QStringLiteral("latitude")).toDouble();
    s.place.longitude = place.value(QStringLiteral("longitude")).toDouble();
    s.place.name = place.value(QStringLiteral("name")).toString();
    s.twilight =
        calendar::twilightFromName(o.value(QStringLiteral("twilight")).toString()).value_or(s.twilight);
    s.seed = o.value(QStringLiteral("presenceSeed")).toString().toULongLong();
    for (const QJsonValue& v : o.value(QStringLiteral("outputs")).toArray()) {
        const QJsonObject out = v.toObject();
        const int m = out.value(QStringLiteral("output")).toInt();
        if (m < 1 || m > 8) continue;
        calendar::OutputCalendar& oc = s.outputs[size_t(m - 1)];
        oc.presenceMinutes = out.value(QStringLiteral("presence")).toInt();
        for (const QJsonValue& w : out.value(QStringLiteral("switchings")).toArray()) {
            const QJsonObject sw = w.toObject();
            oc.switchings.push_back({anchorOf(sw.value(QStringLiteral("start")).toObject()),
                                     anchorOf(sw.value(QStringLiteral("end")).toObject())});
        }
    }
    for (const QJsonValue& v : o.value(QStringLiteral("holidays")).toArray()) {
        const QJsonObject h = v.toObject();
        calendar::Holiday holiday;
        holiday.name = h.value(QStringLiteral("name")).toString();
        holiday.from = QDate::fromString(h.value(QStringLiteral("from")).toString(), Qt::ISODate);
        holiday.to = QDate::fromString(h.value(QStringLiteral("to")).toString(), Qt::ISODate);
        holiday.everyYear = h.value(QStringLiteral("everyYear")).toBool();
        for (const QJsonValue& m : h.value(QStringLiteral("outputs")).toArray())
            if (m.toInt() >= 1 && m.toInt() <= 8) holiday.outputs |= quint8(1u << (m.toInt() - 1));
        for (auto a : {calendar::Holiday::Action::Off, calendar::Holiday::Action::On,
                       calendar::Holiday::Action::AsSunday})
            if (h.value(QStringLiteral("action")).toString() == calendar::actionName(a)) holiday.action = a;
        s.holidays.push_back(holiday);
    }
    return s;
}

std::vector<QJsonObject> calendarCommands(const calendar::Settings& before, const calendar::Settings& after)
{
    std::vector<QJsonObject> out;
    if (!(before.place == after.place)) {
        const calendar::Place& p = after.place;
        out.push_back({{"command", "calendarPlace"},
                       {"latitude", p.set ? QJsonValue(p.latitude) : QJsonValue(QString())},
                       {"longitude", p.set ? QJsonValue(p.longitude) : QJsonValue(QString())},
                       {"name", p.name}});
    }
    if (before.twilight != after.twilight)
        out.push_back(
            {{"command", "calendarTwilight"}, {"twilight", calendar::twilightName(after.twilight)}});
    for (int m = 1; m <= 8; ++m) {
        const calendar::OutputCalendar& was = before.outputs[size_t(m - 1)];
        const calendar::OutputCalendar& is = after.outputs[size_t(m - 1)];
        for (int k = 0; k < channels::switchingCount(m); ++k) {
            calendar::SwitchingAnchors a = was.anchors(k), b = is.anchors(k);
            // Output 7's finish is a clock or sun time: the default end is the clock's there.
            for (calendar::SwitchingAnchors* x : {&a, &b})
                if (m == 7 && x->end.kind == calendar::Anchor::Kind::Run) x->end = {};
            for (auto [edge, old, now] :
                 {std::tuple{"start", a.start, b.start}, std::tuple{"end", a.end, b.end}}) {
                if (old == now) continue;
                out.push_back({{"command", "calendarAnchor"},
                               {"output", m},
                               {"switching", k},
                               {"edge", edge},
                               {"kind", calendar::anchorKindName(now.kind)},
                               {"offset", now.offset ? calendar::offsetText(now.offset) : QString()},
                               {"notBefore", limitText(now.notBefore)},
                               {"notAfter", limitText(now.notAfter)}});
            }
        }
        if (was.presenceMinutes != is.presenceMinutes)
            out.push_back({{"command", "calendarPresence"}, {"output", m}, {"minutes", is.presenceMinutes}});
    }
    // Rows edited in place are replaced, new ones added, and the rows the list
    // no longer has removed from the end, so that no index moves under another.
    const size_t common = std::min(before.holidays.size(), after.holidays.size());
    for (size_t i = 0; i < common; ++i) {
        if (before.holidays[i] == after.holidays[i]) continue;
        QJsonObject c = holidayCommand(after.holidays[i]);
        c.insert(QStringLiteral("index"), int(i));
        out.push_back(c);
    }
    for (size_t i = common; i < after.holidays.size(); ++i)
        out.push_back(holidayCommand(after.holidays[i]));
    for (size_t i = before.holidays.size(); i > common; --i)
        out.push_back({{"command", "calendarRemoveHoliday"}, {"index", int(i - 1)}});
    return out;
}

mqtt::Settings mqttSettingsOf(const QJsonObject& mqtt, bool* passwordSet)
{
    const QJsonObject o = mqtt.value(QStringLiteral("settings")).toObject();
    mqtt::Settings s = mqtt::settingsOfJson(o);
    s.problem = o.value(QStringLiteral("problem")).toString();
    if (passwordSet) *passwordSet = o.value(QStringLiteral("passwordSet")).toBool();
    return s;
}

QJsonObject mqttSettingsCommand(const mqtt::Settings& s, const std::optional<QString>& password)
{
    QJsonObject c = mqtt::settingsJson(s);
    c.insert(QStringLiteral("command"), QStringLiteral("mqttSettings"));
    if (password) c.insert(QStringLiteral("password"), *password);
    return c;
}

} // namespace kestra::client
