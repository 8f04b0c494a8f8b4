#include "service/api/commands.h"

#include "client/endpoint.h"
#include "logic/calendar/ics.h"
#include "model/errorroutine.h"
#include "model/pulse.h"
#include "model/recorder.h"
#include "model/switchmodel.h"
#include "service/mqtt/link.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocale>
#include <csignal>
#include <functional>
#include <map>
#include <unistd.h>

namespace kestra::api {

namespace {

// The longest text a command may carry (a location, a time, a sound name).
constexpr int kMaxText = 255;

// A request that is no valid command: refused before anything is touched.
struct BadRequest
{
    QString text;
};

// A command the switch refuses with a window's own message, which is no error
// routine's (the MQTT window says why it did not store in its state line).
struct Refused
{
    Failure failure;
    QString text;
};

class Args
{
public:
    explicit Args(const QJsonObject& o) : m_o(o) {}

    int number(const char* key, int lo, int hi) const
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        const double d = v.toDouble(-1e18);
        if (!v.isDouble() || d != double(qint64(d)))
            throw BadRequest{
                QStringLiteral("\"%1\" must be a whole number from %2 to %3").arg(key).arg(lo).arg(hi)};
        if (d < lo || d > hi)
            throw BadRequest{QStringLiteral("\"%1\" is out of range: %2 to %3").arg(key).arg(lo).arg(hi)};
        return int(d);
    }
    bool flag(const char* key) const
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (!v.isBool()) throw BadRequest{QStringLiteral("\"%1\" must be true or false").arg(key)};
        return v.toBool();
    }
    bool flag(const char* key, bool fallback) const
    {
        return m_o.contains(QLatin1String(key)) ? flag(key) : fallback;
    }
    QString text(const char* key) const
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (!v.isString()) throw BadRequest{QStringLiteral("\"%1\" must be a text").arg(key)};
        const QString t = v.toString();
        if (t.size() > kMaxText)
            throw BadRequest{QStringLiteral("\"%1\" is longer than %2 characters").arg(key).arg(kMaxText)};
        return t;
    }
    QString text(const char* key, const QString& fallback) const
    {
        return m_o.contains(QLatin1String(key)) ? text(key) : fallback;
    }
    // A text as long as the body may be (an iCalendar file).
    QString longText(const char* key) const
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (!v.isString()) throw BadRequest{QStringLiteral("\"%1\" must be a text").arg(key)};
        return v.toString();
    }
    // A number as a person types it into a box: a text, or a JSON number.
    QString typed(const char* key) const
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isDouble()) return QLocale::c().toString(v.toDouble(), 'g', QLocale::FloatingPointShortest);
        return text(key);
    }
    bool has(const char* key) const { return m_o.contains(QLatin1String(key)); }
    QJsonValue value(const char* key) const { return m_o.value(QLatin1String(key)); }
    channels::Mode mode() const
    {
        const std::optional<channels::Mode> m = parseMode(text("mode"));
        if (!m) throw BadRequest{QStringLiteral("\"mode\" must be AUTO, ON or OFF")};
        return *m;
    }

private:
    const QJsonObject& m_o;
};

model::Channel& output(const Sources& s, const Args& a)
{
    return s.model.channel(a.number("output", 1, 8));
}

model::Channel& pulsing(const Sources& s, const Args& a)
{
    return s.model.channel(a.number("output", 1, 2));
}

int timeIndex(const model::Channel& c, const Args& a)
{
    return a.number("index", 0, c.timeCount() - 1);
}

// Each calendar command stores at once, read and judged as the calendar
// window's OK reads and judges (the same texts for the same faults); a refusal
// leaves the file and the switch as they were.
void editCalendar(const Sources& s, const std::function<void(calendar::Settings&)>& edit)
{
    calendar::Settings c = s.model.calendarForEdit();
    edit(c);
    s.model.saveCalendar(c);
}

calendar::Holiday::Action holidayAction(const Args& a)
{
    const QString text = a.text("action", QStringLiteral("OFF")).trimmed();
    for (const auto action :
         {calendar::Holiday::Action::Off, calendar::Holiday::Action::On, calendar::Holiday::Action::AsSunday})
        if (text.compare(calendar::actionName(action), Qt::CaseInsensitive) == 0) return action;
    throw BadRequest{QStringLiteral("\"action\" must be OFF, ON or as on Sunday")};
}

// "outputs": [3, 5] or the window's text "3 5".
quint8 holidayOutputs(const Args& a, const QString& holiday)
{
    const QJsonValue v = a.value("outputs");
    if (!v.isArray()) return calendar::outputsFromText(holiday, a.text("outputs"));
    QStringList words;
    for (const QJsonValue& m : v.toArray()) {
        if (!m.isDouble()) throw BadRequest{QStringLiteral("\"outputs\" must be numbers 1 to 8")};
        words << QLocale::c().toString(m.toDouble(), 'g', QLocale::FloatingPointShortest);
    }
    return calendar::outputsFromText(holiday, words.join(QLatin1Char(' ')));
}

// Settings of the link as the window takes them; what a command leaves out is
// kept as stored, the password too (null keeps it, an empty text clears it).
void storeMqttSettings(const Sources& s, const Args& a)
{
    const QString title = s.model.build().title;
    const mqtt::Settings stored = mqtt::Settings::load(title);
    mqtt::Settings typed = stored;
    typed.enabled = a.flag("enabled", stored.enabled);
    typed.host = a.text("host", stored.host);
    if (a.has("port")) typed.port = a.number("port", 1, 65535);
    typed.tls = a.flag("tls", stored.tls);
    typed.caFile = a.text("caFile", stored.caFile);
    typed.username = a.text("username", stored.username);
    const QJsonValue password = a.value("password");
    const bool keep = password.isUndefined() || password.isNull();
    if (!keep) typed.password = a.text("password");
    typed.name = a.text("name", stored.name);
    typed.baseTopic = a.text("baseTopic", stored.baseTopic);
    typed.discovery = a.flag("discovery", stored.discovery);
    typed.discoveryPrefix = a.text("discoveryPrefix", stored.discoveryPrefix);
    if (a.has("outputs")) {
        const QJsonValue outputs = a.value("outputs");
        if (!outputs.isArray())
            throw BadRequest{
                QStringLiteral("\"outputs\" must be a list of {\"output\", \"topic\", \"on\", \"off\"}")};
        for (const QJsonValue& v : outputs.toArray()) {
            if (!v.isObject())
                throw BadRequest{QStringLiteral("each of \"outputs\" must be an object with \"output\" 1-8")};
            const QJsonObject o = v.toObject();
            const Args e(o);
            mqtt::OutputTarget& t = typed.outputs[size_t(e.number("output", 1, mqtt::kOutputs) - 1)];
            t.topic = e.text("topic", t.topic);
            t.on = e.text("on", t.on);
            t.off = e.text("off", t.off);
        }
    }
    mqtt::Settings taken = mqtt::takeTyped(typed, mqtt::defaultName(title));
    if (taken.problem.isEmpty() && keep) taken.problem = mqtt::keptPasswordProblem(stored, taken);
    if (!taken.problem.isEmpty())
        throw Refused{Failure(failure::kConversion, taken.problem), mqtt::notSavedText(taken.problem)};
    if (const QString why = taken.save(title); !why.isEmpty())
        throw Refused{Failure(failure::kFile, why), mqtt::notSavedText(why)};
    s.link.apply(taken);
}

using Handler = std::function<void(const Sources&, const Args&)>;

// Each command as a window hands it over. The name is what a client sends.
const std::map<QString, Handler>& handlers()
{
    static const std::map<QString, Handler> table = {
        {QStringLiteral("day"),
         [](const Sources& s, const Args& a) {
             model::Channel& c = output(s, a);
             c.clickDay(a.number("day", 0, 6), a.flag("ticked"));
         }},
        {QStringLiteral("finishDay"),
         [](const Sources& s, const Args& a) {
             if (a.number("output", 7, 7) == 7)
                 s.model.channel(7).clickFinishDay(a.number("day", 0, 6), a.flag("ticked"));
         }},
        {QStringLiteral("select"),
         [](const Sources& s, const Args& a) { output(s, a).selectMode(a.mode()); }},
        {QStringLiteral("mode"),
         [](const Sources& s, const Args& a) {
             const int m = a.number("output", 1, 8);
             s.requestMode(m, a.mode());
         }},
        {QStringLiteral("time"),
         [](const Sources& s, const Args& a) {
             model::Channel& c = output(s, a);
             const int index = timeIndex(c, a);
             const QString text = a.text("text");
             const bool finish = a.flag("finish", true);
             c.editTime(index, text);
             // As the box losing its focus: the edit is judged now.
             if (finish && c.time(index).editPending()) c.finishTimeEdit(index);
         }},
        {QStringLiteral("timeFocus"),
         [](const Sources& s, const Args& a) {
             model::Channel& c = output(s, a);
             c.setTimeFocus(timeIndex(c, a), a.flag("focused"));
         }},
        {QStringLiteral("finishTime"),
         [](const Sources& s, const Args& a) {
             model::Channel& c = output(s, a);
             const int index = timeIndex(c, a);
             if (c.time(index).editPending()) c.finishTimeEdit(index);
         }},
        {QStringLiteral("ok"), [](const Sources& s, const Args& a) { output(s, a).ok(); }},
        {QStringLiteral("pulseStart"), [](const Sources& s, const Args& a) { pulsing(s, a).startPulse(); }},
        {QStringLiteral("pulseStop"), [](const Sources& s, const Args& a) { pulsing(s, a).stopPulse(); }},
        {QStringLiteral("pulseSelect"),
         [](const Sources& s, const Args& a) {
             model::Channel& c = pulsing(s, a);
             const QString list = a.text("list");
             if (list != QLatin1String("on") && list != QLatin1String("off"))
                 throw BadRequest{QStringLiteral("\"list\" must be on or off")};
             const bool on = list == QLatin1String("on");
             const QString entry = a.text("entry");
             if (!(on ? c.pulse()->onEntries() : c.pulse()->offEntries()).contains(entry))
                 throw BadRequest{QStringLiteral("\"%1\" is no entry of the %2 list").arg(entry, list)};
             c.selectPulse(on, entry);
         }},
        {QStringLiteral("mapping"),
         [](const Sources& s, const Args& a) {
             const int input = a.number("input", 1, 3);
             const bool on = a.flag("on");
             const int m = a.number("output", 1, 8);
             s.model.inputs().clickMapping(input, on, m, a.number("value", 0, 2));
         }},
        {QStringLiteral("holdTime"),
         [](const Sources& s, const Args& a) {
             model::Inputs& in = s.model.inputs();
             const QString text = a.text("text");
             const bool finish = a.flag("finish", true);
             in.editHoldTime(text);
             if (finish && in.holdTime().editPending()) in.finishHoldTimeEdit();
         }},
        {QStringLiteral("holdTimeFocus"),
         [](const Sources& s, const Args& a) { s.model.inputs().setHoldTimeFocus(a.flag("focused")); }},
        {QStringLiteral("finishHoldTime"),
         [](const Sources& s, const Args&) {
             model::Inputs& in = s.model.inputs();
             if (in.holdTime().editPending()) in.finishHoldTimeEdit();
         }},
        {QStringLiteral("soundName"),
         [](const Sources& s, const Args& a) {
             const int input = a.number("input", 4, 5);
             s.model.inputs().editSoundName(input, a.text("name"));
         }},
        {QStringLiteral("pickSound"),
         [](const Sources& s, const Args& a) {
             const int input = a.number("input", 4, 5);
             s.model.inputs().pickSound(input, a.text("name"));
         }},
        {QStringLiteral("input4Directory"),
         [](const Sources& s, const Args& a) { s.model.inputs().setInput4Directory(a.text("directory")); }},
        {QStringLiteral("inputsOk"), [](const Sources& s, const Args&) { s.model.inputs().ok(); }},
        {QStringLiteral("location"),
         [](const Sources& s, const Args& a) {
             const int n = a.number("n", 1, 13);
             s.model.editLocation(n, a.text("text"));
         }},
        {QStringLiteral("polarity"),
         [](const Sources& s, const Args& a) {
             const bool fiveVolts = a.flag("fiveVoltsOn");
             // As the About window: its copy is loaded before the box is clicked.
             s.model.prepareAbout();
             s.model.clickPolarity(fiveVolts);
         }},
        {QStringLiteral("polarityOk"), [](const Sources& s, const Args&) { s.model.aboutOk(); }},
        // The end as SIGTERM brings it, through the same handler: the answer goes
        // out first, then the outputs' OFF states and the end of every stream.
        {QStringLiteral("stop"), [](const Sources&, const Args&) { ::kill(::getpid(), SIGTERM); }},
        {QStringLiteral("calendarPlace"),
         [](const Sources& s, const Args& a) {
             const calendar::Place p = calendar::placeFromText(a.typed("latitude"), a.typed("longitude"),
                                                               a.text("name", QString()));
             editCalendar(s, [&](calendar::Settings& c) { c.place = p; });
         }},
        {QStringLiteral("calendarTwilight"),
         [](const Sources& s, const Args& a) {
             const auto t = calendar::twilightFromName(a.text("twilight"));
             if (!t)
                 throw BadRequest{
                     QStringLiteral("\"twilight\" must be official, civil, nautical or astronomical")};
             editCalendar(s, [&](calendar::Settings& c) { c.twilight = *t; });
         }},
        {QStringLiteral("calendarAnchor"),
         [](const Sources& s, const Args& a) {
             const int m = a.number("output", 1, 8);
             const int k = a.number("switching", 0, channels::switchingCount(m) - 1);
             const QString edge = a.text("edge");
             if (edge != QLatin1String("start") && edge != QLatin1String("end"))
                 throw BadRequest{QStringLiteral("\"edge\" must be start or end")};
             const bool start = edge == QLatin1String("start");
             calendar::Anchor anchor;
             const auto kind = calendar::anchorKindFromName(a.text("kind"));
             if (!kind) throw BadRequest{QStringLiteral("\"kind\" must be clock, run, sunrise or sunset")};
             // As the window offers it: only the end of a switching of a run time.
             if (*kind == calendar::Anchor::Kind::Run && (start || m == 7))
                 throw BadRequest{QStringLiteral(
                     "only an end with a run time (not output 7's finish) keeps the run time")};
             anchor.kind = *kind;
             const QString where = QStringLiteral("switching %1 %2").arg(QChar('a' + k)).arg(edge);
             anchor.offset = calendar::offsetFromText(a.text("offset", QString()), where);
             anchor.notBefore = calendar::limitFromText(a.text("notBefore", QString()),
                                                        where + QStringLiteral(" \"not before\""));
             anchor.notAfter = calendar::limitFromText(a.text("notAfter", QString()),
                                                       where + QStringLiteral(" \"not after\""));
             editCalendar(s, [&](calendar::Settings& c) {
                 std::vector<calendar::SwitchingAnchors>& sw = c.outputs[m - 1].switchings;
                 if (sw.size() <= size_t(k)) sw.resize(size_t(k) + 1);
                 (start ? sw[k].start : sw[k].end) = anchor;
             });
         }},
        {QStringLiteral("calendarPresence"),
         [](const Sources& s, const Args& a) {
             const int m = a.number("output", 1, 8);
             const int minutes = a.number("minutes", 0, calendar::kMaxPresenceMinutes);
             editCalendar(s, [&](calendar::Settings& c) { c.outputs[m - 1].presenceMinutes = minutes; });
         }},
        {QStringLiteral("calendarHoliday"),
         [](const Sources& s, const Args& a) {
             calendar::Holiday h;
             h.name = a.text("name");
             h.from = calendar::holidayDateFromText(h.name, a.text("from"));
             h.to = calendar::holidayDateFromText(h.name, a.text("to"));
             h.everyYear = a.flag("everyYear", false);
             h.outputs = holidayOutputs(a, h.name);
             h.action = holidayAction(a);
             const bool replace = a.has("index");
             const int index = replace ? a.number("index", 0, calendar::kMaxHolidays - 1) : -1;
             editCalendar(s, [&](calendar::Settings& c) {
                 if (!replace) {
                     c.holidays.push_back(h);
                 } else if (size_t(index) < c.holidays.size()) {
                     c.holidays[index] = h;
                 } else {
                     throw BadRequest{QStringLiteral("there is no holiday period %1").arg(index)};
                 }
             });
         }},
        {QStringLiteral("calendarRemoveHoliday"),
         [](const Sources& s, const Args& a) {
             const int index = a.number("index", 0, calendar::kMaxHolidays - 1);
             editCalendar(s, [&](calendar::Settings& c) {
                 if (size_t(index) >= c.holidays.size())
                     throw BadRequest{QStringLiteral("there is no holiday period %1").arg(index)};
                 c.holidays.erase(c.holidays.begin() + index);
             });
         }},
        {QStringLiteral("calendarImport"),
         [](const Sources& s, const Args& a) {
             const quint8 outputs = holidayOutputs(a, QStringLiteral("imported"));
             const auto periods = calendar::importIcs(a.longText("ics").toUtf8(), outputs, holidayAction(a),
                                                      s.model.context().clock.now().date());
             editCalendar(s, [&](calendar::Settings& c) { calendar::addImported(c, periods); });
         }},
        {QStringLiteral("mqttSettings"), storeMqttSettings},
        {QStringLiteral("resetHours"),
         [](const Sources& s, const Args& a) { s.recorder.resetHours(a.number("output", 1, 8)); }},
    };
    return table;
}

} // namespace

Answer refusal(int status, const QString& text)
{
    QJsonObject error;
    error.insert(QStringLiteral("status"), status);
    error.insert(QStringLiteral("text"), text);
    QJsonObject body;
    body.insert(QStringLiteral("api"), kVersion);
    body.insert(QStringLiteral("ok"), false);
    body.insert(QStringLiteral("error"), error);
    return {status, body};
}

Answer runCommand(const Sources& s, const QByteArray& body, const QString& only)
{
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &parse);
    if (parse.error != QJsonParseError::NoError)
        return refusal(
            400, QStringLiteral("the body is no JSON: %1 at %2").arg(parse.errorString()).arg(parse.offset));
    if (!doc.isObject()) return refusal(400, QStringLiteral("the body must be a JSON object"));
    const QJsonObject o = doc.object();
    if (o.contains(QStringLiteral("api")) && o.value(QStringLiteral("api")).toInt() != kVersion)
        return refusal(400, QStringLiteral("this switch speaks API version %1").arg(kVersion));
    const QString name = o.value(QStringLiteral("command")).toString();
    if (!only.isEmpty() && name != only)
        return refusal(400, QStringLiteral("this call takes only the command \"%1\"").arg(only));
    const auto found = handlers().find(name);
    if (found == handlers().end())
        return refusal(400, name.isEmpty()
                                ? QStringLiteral("\"command\" is missing")
                                : QStringLiteral("unknown command \"%1\"").arg(name.left(kMaxText)));
    // A command that crossed the end is not acted on: the port is already OFF.
    if (s.model.isUnloaded()) return refusal(503, QStringLiteral("the switch is ending"));

    const Args args(o);
    model::ErrorCapture capture;
    try {
        found->second(s, args);
    } catch (const BadRequest& bad) {
        return refusal(400, bad.text);
    } catch (const Refused& r) {
        capture.take(r.failure, r.text);
    } catch (const Failure& f) {
        capture.take(f, f.description);
    } catch (const std::exception& e) {
        capture.take(Failure(failure::kInternal, QString::fromLocal8Bit(e.what())),
                     QString::fromLocal8Bit(e.what()));
    }
    QJsonObject answer;
    answer.insert(QStringLiteral("api"), kVersion);
    if (const auto& f = capture.failure()) {
        QJsonObject error;
        error.insert(QStringLiteral("status"), 422);
        error.insert(QStringLiteral("number"), f->number);
        error.insert(QStringLiteral("description"), f->description);
        error.insert(QStringLiteral("text"), f->text);
        answer.insert(QStringLiteral("ok"), false);
        answer.insert(QStringLiteral("error"), error);
        return {422, answer};
    }
    answer.insert(QStringLiteral("ok"), true);
    return {200, answer};
}

} // namespace kestra::api
