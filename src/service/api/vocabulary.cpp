#include "service/api/vocabulary.h"

#include "base/timetext.h"
#include "client/endpoint.h"
#include "logic/calendar/sun.h"
#include "logic/history/record.h"
#include "logic/inputs/inputlogic.h"
#include "logic/week/weekmodel.h"
#include "model/pulse.h"
#include "model/recorder.h"
#include "model/switchmodel.h"
#include "platform/port/bits.h"
#include "platform/port/portline.h"
#include "service/mqtt/link.h"
#include "storage/store/schema.h"

#include <QDateTime>
#include <QJsonArray>
#include <cmath>

namespace kestra::api {

using channels::Mode;

namespace {

constexpr double kMsPerHour = 3.6e6;

// Hours to four places (a third of a second), as a meter reads.
double hoursOf(qint64 ms)
{
    return std::round(double(ms) / kMsPerHour * 1e4) / 1e4;
}

QJsonValue timeValue(const QString& text)
{
    const std::optional<int> s = tryParseTime(text);
    return s ? QJsonValue(*s) : QJsonValue(QJsonValue::Null);
}

QJsonValue moment(const QDateTime& at)
{
    return at.isValid() ? QJsonValue(at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate))
                        : QJsonValue(QJsonValue::Null);
}

QJsonValue optionalBool(const std::optional<bool>& b)
{
    return b ? QJsonValue(*b) : QJsonValue(QJsonValue::Null);
}

QString kindName(week::NextSwitching::Kind k)
{
    switch (k) {
    case week::NextSwitching::Kind::At:
        return QStringLiteral("at");
    case week::NextSwitching::Kind::Frozen:
        return QStringLiteral("frozen");
    case week::NextSwitching::Kind::NoMode:
        return QStringLiteral("noMode");
    case week::NextSwitching::Kind::Held:
        return QStringLiteral("held");
    case week::NextSwitching::Kind::None:
        break;
    }
    return QStringLiteral("none");
}

QJsonObject nextJson(const week::NextSwitching& next)
{
    QJsonObject o;
    o.insert(QStringLiteral("kind"), kindName(next.kind));
    o.insert(QStringLiteral("text"), week::nextSwitchingText(next));
    o.insert(QStringLiteral("toolTip"), week::nextSwitchingToolTip(next));
    const bool timed =
        next.kind == week::NextSwitching::Kind::At || next.kind == week::NextSwitching::Kind::Held;
    o.insert(QStringLiteral("at"), timed ? moment(next.at) : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("on"), timed ? QJsonValue(next.on) : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("pulsing"), bool(next.pulse));
    return o;
}

QJsonObject hoursJson(const history::Recorder& r, int output)
{
    QJsonObject o;
    o.insert(QStringLiteral("counting"), r.isCounting());
    o.insert(QStringLiteral("problem"), r.hoursProblem().isEmpty() ? r.problem() : r.hoursProblem());
    if (!r.isOpen() && r.problem().isEmpty()) return o;
    const history::Hours h = r.hours(output);
    o.insert(QStringLiteral("today"), hoursOf(h.todayMs));
    o.insert(QStringLiteral("week"), hoursOf(h.weekMs));
    o.insert(QStringLiteral("month"), hoursOf(h.monthMs));
    o.insert(QStringLiteral("total"), hoursOf(h.totalMs));
    o.insert(QStringLiteral("since"), moment(QDateTime::fromMSecsSinceEpoch(h.resetMs)));
    return o;
}

QJsonObject pulseJson(const model::Pulse& p, qint64 now)
{
    QJsonObject o;
    o.insert(QStringLiteral("unit"), p.inSeconds() ? QStringLiteral("s") : QStringLiteral("min"));
    o.insert(QStringLiteral("pulsing"), p.isPulsing());
    o.insert(QStringLiteral("phase"),
             p.isPulsing() ? QJsonValue(p.inOnPhase() ? QStringLiteral("ON") : QStringLiteral("OFF"))
                           : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("onEntries"), QJsonArray::fromStringList(p.onEntries()));
    o.insert(QStringLiteral("offEntries"), QJsonArray::fromStringList(p.offEntries()));
    o.insert(QStringLiteral("onSelection"), p.onSelection());
    o.insert(QStringLiteral("offSelection"), p.offSelection());
    bool ok = false;
    const int start = p.startCounter().toInt(&ok);
    o.insert(QStringLiteral("startCounter"), ok ? QJsonValue(start) : QJsonValue(p.startCounter()));
    const int stop = p.stopCounter().toInt(&ok);
    o.insert(QStringLiteral("stopCounter"), ok ? QJsonValue(stop) : QJsonValue(p.stopCounter()));
    if (const auto plan = p.plan(now)) {
        o.insert(QStringLiteral("text"), plan->describe());
        o.insert(QStringLiteral("phaseEnd"), plan->endless
                                                 ? QJsonValue(QJsonValue::Null)
                                                 : moment(QDateTime::fromMSecsSinceEpoch(plan->phaseEnd)));
    }
    return o;
}

QJsonValue limitValue(const std::optional<int>& seconds)
{
    return seconds ? QJsonValue(formatTime(*seconds)) : QJsonValue(QJsonValue::Null);
}

QJsonObject anchorJson(const calendar::Anchor& a)
{
    QJsonObject o;
    o.insert(QStringLiteral("kind"), calendar::anchorKindName(a.kind));
    o.insert(QStringLiteral("offset"), a.offset);
    o.insert(QStringLiteral("offsetText"), a.offset ? calendar::offsetText(a.offset) : QString());
    o.insert(QStringLiteral("notBefore"), limitValue(a.notBefore));
    o.insert(QStringLiteral("notAfter"), limitValue(a.notAfter));
    return o;
}

// Today's sunrise and sunset at the place, or why there is none.
QJsonObject sunTodayJson(const calendar::Settings& c, const QDateTime& now)
{
    const QDate date = now.date();
    QJsonObject o;
    o.insert(QStringLiteral("date"), date.toString(Qt::ISODate));
    if (!c.place.set) {
        const QString none = QStringLiteral("no place set");
        o.insert(QStringLiteral("sunrise"), QJsonValue::Null);
        o.insert(QStringLiteral("sunset"), QJsonValue::Null);
        o.insert(QStringLiteral("noSunrise"), none);
        o.insert(QStringLiteral("noSunset"), none);
        return o;
    }
    const QTimeZone zone = now.timeZone();
    const calendar::SunDay d = calendar::sunDay(c.place, c.twilight, date, zone);
    for (const bool rise : {true, false}) {
        const std::optional<qint64>& at = rise ? d.rise : d.set;
        o.insert(rise ? QStringLiteral("sunrise") : QStringLiteral("sunset"),
                 at ? moment(QDateTime::fromSecsSinceEpoch(*at, zone)) : QJsonValue(QJsonValue::Null));
        if (!at)
            o.insert(rise ? QStringLiteral("noSunrise") : QStringLiteral("noSunset"),
                     calendar::missingText(rise, rise ? d.noRise : d.noSet, date));
    }
    return o;
}

Mode storedMode(const model::Channel& c)
{
    const auto flag = [&](const char* name) {
        return tryParseFlag(c.storedValue(store::modeField(c.number(), QLatin1String(name)))).value_or(false);
    };
    // The first true flag wins, as at a load.
    if (flag("Auto")) return Mode::Auto;
    if (flag("Off")) return Mode::Off;
    if (flag("On")) return Mode::On;
    return Mode::None;
}

} // namespace

QJsonObject outputJson(const Sources& s, int m)
{
    const model::Channel& c = s.model.channel(m);
    QJsonObject o;
    o.insert(QStringLiteral("output"), m);
    o.insert(QStringLiteral("location"), s.model.location(m));
    o.insert(QStringLiteral("caption"), c.caption());

    QJsonArray days, storedDays, finish, storedFinish;
    for (int d = 0; d < 7; ++d) {
        days.append(c.day(d));
        storedDays.append(tryParseFlag(c.storedValue(store::dayField(m, d))).value_or(false));
    }
    o.insert(QStringLiteral("days"), days);
    o.insert(QStringLiteral("mode"), modeName(c.mode()));

    QJsonArray times, storedTimes;
    bool draftDiffers = c.mode() != storedMode(c) || days != storedDays;
    for (int i = 0; i < c.timeCount(); ++i) {
        const model::TimeField& tf = c.time(i);
        const QString stored = c.storedValue(tf.field());
        QJsonObject t;
        t.insert(QStringLiteral("index"), i);
        t.insert(QStringLiteral("name"), model::timeFieldName(m, i));
        t.insert(QStringLiteral("field"), tf.field());
        t.insert(QStringLiteral("text"), tf.text());
        t.insert(QStringLiteral("seconds"), timeValue(tf.text()));
        t.insert(QStringLiteral("changed"), tf.isChanged());
        t.insert(QStringLiteral("editing"), tf.isEditing());
        t.insert(QStringLiteral("stored"), stored);
        times.append(t);
        storedTimes.append(stored);
        draftDiffers = draftDiffers || tf.text() != stored;
    }
    o.insert(QStringLiteral("times"), times);

    QJsonObject stored;
    stored.insert(QStringLiteral("days"), storedDays);
    stored.insert(QStringLiteral("mode"), modeName(storedMode(c)));
    stored.insert(QStringLiteral("times"), storedTimes);
    if (m == 7) {
        for (int d = 0; d < 7; ++d) {
            finish.append(c.finishDay(d));
            storedFinish.append(tryParseFlag(c.storedValue(model::finishDayField(d))).value_or(false));
        }
        o.insert(QStringLiteral("finishDays"), finish);
        stored.insert(QStringLiteral("finishDays"), storedFinish);
        draftDiffers = draftDiffers || finish != storedFinish;
    }
    o.insert(QStringLiteral("stored"), stored);
    o.insert(QStringLiteral("unsaved"), draftDiffers);

    o.insert(QStringLiteral("state"), stateText(c.state()));
    o.insert(QStringLiteral("cause"), history::causeName(int(history::fromChannel(c.cause()))));
    o.insert(QStringLiteral("driven"), optionalBool(s.model.drivenOn(m)));
    o.insert(QStringLiteral("next"), nextJson(s.week.next(m)));
    o.insert(QStringLiteral("hours"), hoursJson(s.recorder, m));
    if (const model::Pulse* p = c.pulse())
        o.insert(QStringLiteral("pulse"), pulseJson(*p, s.model.context().clock.now().toMSecsSinceEpoch()));
    return o;
}

QJsonObject inputsJson(const Sources& s)
{
    const model::Inputs& in = s.model.inputs();
    QJsonObject o;
    QJsonArray levels;
    for (int n = 1; n <= 5; ++n) {
        QJsonObject l;
        l.insert(QStringLiteral("input"), n);
        l.insert(QStringLiteral("location"), s.model.location(8 + n));
        l.insert(QStringLiteral("on"), optionalBool(in.level(n)));
        l.insert(QStringLiteral("text"), in.levelText(n));
        levels.append(l);
    }
    o.insert(QStringLiteral("levels"), levels);
    QJsonArray mappings;
    for (int n = 1; n <= 3; ++n) {
        QJsonObject map;
        map.insert(QStringLiteral("input"), n);
        for (const bool on : {true, false}) {
            QJsonArray boxes;
            for (int m = 1; m <= 8; ++m)
                boxes.append(in.mapping(n, on, m));
            map.insert(on ? QStringLiteral("on") : QStringLiteral("off"), boxes);
        }
        mappings.append(map);
    }
    o.insert(QStringLiteral("mappings"), mappings);
    QJsonObject hold;
    hold.insert(QStringLiteral("text"), in.holdTime().text());
    hold.insert(QStringLiteral("seconds"), timeValue(in.holdTime().text()));
    hold.insert(QStringLiteral("changed"), in.holdTime().isChanged());
    hold.insert(QStringLiteral("editing"), in.holdTime().isEditing());
    hold.insert(QStringLiteral("stored"), in.storedValue(QStringLiteral("INP3TIME")));
    hold.insert(QStringLiteral("date"), in.holdDate());
    hold.insert(QStringLiteral("start"), in.holdStart());
    o.insert(QStringLiteral("hold"), hold);
    QJsonObject sounds;
    sounds.insert(QStringLiteral("input4"), in.soundName(4));
    sounds.insert(QStringLiteral("input5"), in.soundName(5));
    sounds.insert(QStringLiteral("input4Directory"), in.input4Directory());
    sounds.insert(QStringLiteral("stored"), in.storedValue(QStringLiteral("file1")));
    o.insert(QStringLiteral("sounds"), sounds);
    return o;
}

QJsonObject portJson(const Sources& s)
{
    const port::PortFacts facts = s.model.portFacts();
    const port::PortLine line = port::describePort(facts);
    QJsonObject o;
    o.insert(QStringLiteral("port"), facts.portText);
    o.insert(QStringLiteral("byte"),
             facts.held ? QJsonValue(int(*facts.held)) : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("wanted"), int(facts.wanted));
    QJsonArray driven;
    for (int m = 1; m <= 8; ++m)
        driven.append(optionalBool(s.model.drivenOn(m)));
    o.insert(QStringLiteral("driven"), driven);
    o.insert(QStringLiteral("fiveVoltsOn"), s.model.fiveVoltsOn());
    o.insert(QStringLiteral("simulated"), facts.kind == port::BackendKind::Simulated);
    o.insert(QStringLiteral("device"), facts.device);
    o.insert(QStringLiteral("description"), facts.description);
    o.insert(QStringLiteral("line"), line.head + line.rest);
    o.insert(QStringLiteral("text"), line.full);
    o.insert(QStringLiteral("problem"), line.problem);
    return o;
}

QJsonObject mqttJson(const Sources& s)
{
    QJsonObject o;
    o.insert(QStringLiteral("enabled"), s.link.settings().enabled);
    o.insert(QStringLiteral("state"), s.link.shortState());
    o.insert(QStringLiteral("text"), s.link.stateText());
    // As the settings window shows them: what the placement file holds.
    // The password only as "passwordSet", never itself.
    const mqtt::Settings stored = mqtt::Settings::load(s.model.build().title);
    QJsonObject settings = mqtt::settingsJson(stored);
    settings.insert(QStringLiteral("passwordSet"), !stored.password.isEmpty());
    settings.insert(QStringLiteral("problem"), stored.problem);
    o.insert(QStringLiteral("settings"), settings);
    return o;
}

QJsonObject locationsJson(const Sources& s)
{
    QJsonArray a;
    for (int n = 1; n <= 13; ++n)
        a.append(s.model.location(n));
    QJsonObject o;
    o.insert(QStringLiteral("locations"), a);
    return o;
}

QJsonObject calendarJson(const Sources& s)
{
    // Without a file (or with one that cannot be read) the switch follows the
    // described schedules alone: the defaults are what it does.
    const std::shared_ptr<const calendar::Settings> held = s.model.calendar();
    const calendar::Settings c = held ? *held : calendar::Settings{};
    QJsonObject o;
    QJsonObject place;
    place.insert(QStringLiteral("set"), c.place.set);
    place.insert(QStringLiteral("latitude"), c.place.set ? QJsonValue(c.place.latitude) : QJsonValue::Null);
    place.insert(QStringLiteral("longitude"), c.place.set ? QJsonValue(c.place.longitude) : QJsonValue::Null);
    place.insert(QStringLiteral("name"), c.place.name);
    o.insert(QStringLiteral("place"), place);
    o.insert(QStringLiteral("twilight"), calendar::twilightName(c.twilight));
    o.insert(QStringLiteral("horizon"), calendar::horizonOf(c.twilight));
    // As a text: a JSON number holds 53 bits of it at most.
    o.insert(QStringLiteral("presenceSeed"), QString::number(c.seed));
    o.insert(QStringLiteral("today"), sunTodayJson(c, s.model.context().clock.now()));
    QJsonArray outputs;
    for (int m = 1; m <= 8; ++m) {
        const calendar::OutputCalendar& oc = c.outputs[m - 1];
        QJsonArray switchings;
        for (int k = 0; k < channels::switchingCount(m); ++k) {
            const calendar::SwitchingAnchors a = oc.anchors(k);
            switchings.append(QJsonObject{{QStringLiteral("switching"), QString(QChar('a' + k))},
                                          {QStringLiteral("start"), anchorJson(a.start)},
                                          {QStringLiteral("end"), anchorJson(a.end)}});
        }
        outputs.append(QJsonObject{{QStringLiteral("output"), m},
                                   {QStringLiteral("presence"), oc.presenceMinutes},
                                   {QStringLiteral("switchings"), switchings}});
    }
    o.insert(QStringLiteral("outputs"), outputs);
    QJsonArray holidays;
    for (size_t i = 0; i < c.holidays.size(); ++i) {
        const calendar::Holiday& h = c.holidays[i];
        QJsonArray named;
        for (int m = 1; m <= 8; ++m)
            if (h.names(m)) named.append(m);
        holidays.append(QJsonObject{{QStringLiteral("index"), int(i)},
                                    {QStringLiteral("name"), h.name},
                                    {QStringLiteral("from"), h.from.toString(Qt::ISODate)},
                                    {QStringLiteral("to"), h.to.toString(Qt::ISODate)},
                                    {QStringLiteral("everyYear"), h.everyYear},
                                    {QStringLiteral("outputs"), named},
                                    {QStringLiteral("action"), calendar::actionName(h.action)}});
    }
    o.insert(QStringLiteral("holidays"), holidays);
    o.insert(QStringLiteral("problem"), s.model.calendarProblem());
    return o;
}

QJsonObject stateJson(const Sources& s)
{
    QJsonObject o;
    o.insert(QStringLiteral("api"), kVersion);
    o.insert(QStringLiteral("title"), s.model.build().title);
    o.insert(QStringLiteral("version"), versionNumber());
    QJsonArray outputs;
    std::array<week::NextSwitching, 8> next;
    for (int m = 1; m <= 8; ++m) {
        outputs.append(outputJson(s, m));
        next[m - 1] = s.week.next(m);
    }
    o.insert(QStringLiteral("outputs"), outputs);
    o.insert(QStringLiteral("next"), week::nextOverviewText(next));
    o.insert(QStringLiteral("inputs"), inputsJson(s));
    o.insert(QStringLiteral("port"), portJson(s));
    o.insert(QStringLiteral("mqtt"), mqttJson(s));
    o.insert(QStringLiteral("locations"), locationsJson(s).value(QStringLiteral("locations")));
    o.insert(QStringLiteral("calendar"), calendarJson(s));
    // Where the switch writes its history: a window program attached to it reads
    // that file, whatever its own environment says the program directory is.
    o.insert(QStringLiteral("historyFile"), s.recorder.path());
    return o;
}

} // namespace kestra::api
