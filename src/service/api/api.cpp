#include "service/api/api.h"

#include "client/endpoint.h"
#include "logic/calendar/ics.h"
#include "logic/week/weekmodel.h"
#include "model/recorder.h"
#include "model/switchmodel.h"
#include "model/teller.h"
#include "platform/port/bits.h"
#include "service/api/commands.h"
#include "service/mqtt/link.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <sys/resource.h>
#include <sys/select.h>

namespace kestra::api {

namespace {

const QByteArray kEvents = "/api/events";
// The .ics import has a path of its own, whose body may carry a whole file:
// the largest one the import takes (1 MiB), written as a JSON text.
const QByteArray kImportCommand = "/api/command/calendarImport";
constexpr qsizetype kImportBody = 2 * calendar::kMaxIcsBytes;

HttpLimits limits()
{
    HttpLimits l;
    l.largerBodies = {{kImportCommand, kImportBody}};
    return l;
}
// Open files the rest of the program may hold (see common/filehandles.h), and
// the fewest connections worth offering.
constexpr qint64 kHandlesBesides = 64;
constexpr qint64 kConnectionsAtLeast = 8;

HttpResponse answerOf(const Answer& a)
{
    return jsonAnswer(a.status, a.body);
}

} // namespace

Api::Api(const Sources& sources, QObject* parent) : QObject(parent), m_sources(sources)
{
    model::SwitchModel& model = m_sources.model;
    for (int m = 1; m <= 8; ++m) {
        model::Channel& c = model.channel(m);
        connect(&c, &model::Channel::stateChanged, this, &Api::noteOutput);
        connect(&c, &model::Channel::settingsChanged, this, &Api::noteOutput);
        connect(&c, &model::Channel::pulseChanged, this, &Api::noteOutput);
        connect(&c, &model::Channel::edited, this, &Api::noteOutput);
    }
    connect(&m_sources.week, &week::WeekModel::nextChanged, this, &Api::noteOutput);
    // A picture redrawn, not a switching told: the next switching is in the output's event.
    connect(&m_sources.week, &week::WeekModel::pictureChanged, this, &Api::noteWeek);
    connect(&model, &model::SwitchModel::outputWritten, this, [this](quint8 byte) {
        note(Port);
        // The outputs whose driven level changed say so too.
        const quint8 driven = port::outputsOf(byte, m_sources.model.fiveVoltsOn());
        for (int m = 1; m <= 8; ++m)
            if (!m_knownDriven || ((driven ^ m_lastDriven) & port::outputBit(m))) noteOutput(m);
        m_lastDriven = driven;
        m_knownDriven = true;
    });
    connect(&model, &model::SwitchModel::portChanged, this, [this] { note(Port); });
    connect(&model, &model::SwitchModel::polarityChanged, this, [this] {
        note(Port);
        noteAllOutputs();
    });
    connect(&model, &model::SwitchModel::locationsChanged, this, [this] {
        note(Locations);
        note(Inputs);
        noteAllOutputs();
    });
    connect(&model, &model::SwitchModel::locationEdited, this, [this](int n) {
        note(Locations);
        if (n <= 8)
            noteOutput(n);
        else
            note(Inputs);
    });
    const model::Inputs* in = &model.inputs();
    for (auto signal : {&model::Inputs::levelsChanged, &model::Inputs::recordChanged,
                        &model::Inputs::input4DirectoryChanged, &model::Inputs::edited})
        connect(in, signal, this, [this] { note(Inputs); });
    connect(&m_sources.link, &mqtt::Link::stateChanged, this, [this] { note(Mqtt); });
    connect(&m_sources.link, &mqtt::Link::settingsChanged, this, [this] { note(Mqtt); });
    connect(&model, &model::SwitchModel::calendarChanged, this, [this] { note(Calendar); });
    // Today's sun times are new at midnight.
    m_sunDay = model.context().clock.now().date();
    connect(&model, &model::SwitchModel::scanDone, this, [this] {
        const QDate today = m_sources.model.context().clock.now().date();
        if (today == m_sunDay) return;
        m_sunDay = today;
        note(Calendar);
    });
    connect(&m_sources.recorder, &history::Recorder::countingEnded, this, &Api::noteAllOutputs);
    connect(&m_sources.recorder, &history::Recorder::hoursReset, this, &Api::noteOutput);
    connect(&model, &model::SwitchModel::aboutToUnload, this, [this] {
        flush();
        send("ending", QJsonObject{{QStringLiteral("text"), QStringLiteral("the switch is ending")}});
    });

    // Changes noted in one turn of the event loop go out together, right after it.
    m_flush.setSingleShot(true);
    m_flush.setInterval(0);
    connect(&m_flush, &QTimer::timeout, this, &Api::flush);
}

Api::~Api()
{
    stop();
}

void Api::start()
{
    if (m_started) return;
    m_started = true;
    const BuildConfig& build = m_sources.model.build();
    m_token = newToken();
    if (m_token.isEmpty()) {
        model::echo(build.title, QStringLiteral("The API is not offered: no random token could be made."));
        return;
    }
    m_auth = std::make_unique<TokenAuthentication>(m_token);
    const Authentication& auth = m_front ? m_front->authentication() : *m_auth;
    m_server = std::make_unique<HttpServer>(
        this, auth, [this](const HttpRequest& r) { return respond(r); }, kEvents,
        [this] { return greeting(); }, limits());
    const quint16 wanted = configuredPort(build);
    QString why;
    if (!m_server->listen(wanted, &why)) {
        // Another program (or this build of another user) has the port: clients
        // find the switch through the endpoint file wherever it listens. Only a
        // port chosen in the placement file is worth a word.
        QString second;
        if (wanted == 0 || !m_server->listen(0, &second)) {
            model::echo(build.title, QStringLiteral("The API is not offered: %1").arg(why));
            m_server.reset();
            return;
        }
        if (wanted != defaultPort(build))
            model::echo(
                build.title,
                QStringLiteral("The API listens on 127.0.0.1:%1 instead: %2").arg(m_server->port()).arg(why));
    }
    if (m_front) {
        const auto network = m_front->network();
        if (network) {
            m_network = std::make_unique<HttpServer>(
                this, auth, [this](const HttpRequest& r) { return respond(r); }, kEvents,
                [this] { return greeting(); }, limits());
            QString refused;
            if (!m_network->listen(network->first, &refused, network->second)) {
                model::echo(build.title, QStringLiteral("The web page is not offered to the network: %1").arg(refused));
                m_network.reset();
            }
        }
        m_front->listening(m_server->port(), m_network ? m_network->port() : 0, m_token);
    }
    const QString problem =
        writeEndpoint(build, Endpoint{m_server->port(), QCoreApplication::applicationPid(), m_token});
    if (!problem.isEmpty()) {
        model::echo(build.title, QStringLiteral("The API is not offered: %1").arg(problem));
        // Nor the page on the network: its server answers through the same switch.
        if (m_network) m_network->stop();
        m_server->stop();
        m_network.reset();
        m_server.reset();
        return;
    }
    // A browser that logged out, or whose password was changed, gets no more events.
    if (m_front)
        m_front->authentication().whenSessionsEnd([this] {
            m_server->endStreamsOfEndedSessions();
            if (m_network) m_network->endStreamsOfEndedSessions();
        });
}

void Api::stop()
{
    if (!m_server) return;
    flush();
    removeEndpoint(m_sources.model.build(), QCoreApplication::applicationPid());
    // Both servers' threads are joined before either goes: a logout on one ends the streams of both.
    if (m_network) m_network->stop();
    m_server->stop();
    if (m_front) m_front->authentication().whenSessionsEnd({});
    m_network.reset();
    m_server.reset();
}

void Api::note(int topic)
{
    m_dirty.set(size_t(topic));
    if (!m_flush.isActive()) m_flush.start();
}

void Api::noteAllOutputs()
{
    for (int m = 1; m <= 8; ++m)
        noteOutput(m);
}

void Api::flush()
{
    m_flush.stop();
    const std::bitset<Count> dirty = m_dirty;
    m_dirty.reset();
    // Nobody listens: nothing is put into words.
    if (streamCount() == 0) return;
    if (dirty.test(Port)) send("port", portJson(m_sources));
    for (int m = 1; m <= 8; ++m)
        if (dirty.test(size_t(m - 1))) send("output", outputJson(m_sources, m));
    if (dirty.test(Inputs)) send("inputs", inputsJson(m_sources));
    if (dirty.test(Locations)) send("locations", locationsJson(m_sources));
    if (dirty.test(Mqtt)) send("mqtt", mqttJson(m_sources));
    if (dirty.test(Calendar)) send("calendar", calendarJson(m_sources));
    QJsonArray redrawn;
    for (int m = 1; m <= 8; ++m)
        if (dirty.test(size_t(Week + m - 1))) redrawn.append(m);
    if (!redrawn.isEmpty()) send("week", QJsonObject{{QStringLiteral("outputs"), redrawn}});
}

void Api::send(const QByteArray& name, const QJsonObject& data)
{
    if (!m_server) return;
    QJsonObject o = data;
    o.insert(QStringLiteral("api"), kVersion);
    const QByteArray event = "event: " + name + "\nid: " + QByteArray::number(++m_eventId) +
                             "\ndata: " + QJsonDocument(o).toJson(QJsonDocument::Compact) + "\n\n";
    m_server->broadcast(event);
    if (m_network) m_network->broadcast(event);
}

QByteArray Api::greeting()
{
    // Changes noted but not yet sent are in the state told now.
    flush();
    return "retry: 2000\nevent: state\nid: " + QByteArray::number(m_eventId) +
           "\ndata: " + QJsonDocument(stateJson(m_sources)).toJson(QJsonDocument::Compact) + "\n\n";
}

HttpResponse Api::respond(const HttpRequest& r)
{
    if (m_front)
        if (std::optional<HttpResponse> own = m_front->route(r)) return *own;
    const bool get = r.method == "GET";
    const auto onlyGet = [&]() -> std::optional<HttpResponse> {
        if (get) return std::nullopt;
        return answerOf(refusal(405, QStringLiteral("%1 is read with GET").arg(QString::fromLatin1(r.path))));
    };
    if (r.path == "/api/command") {
        if (r.method != "POST") return answerOf(refusal(405, QStringLiteral("commands are sent with POST")));
        return answerOf(runCommand(m_sources, r.body));
    }
    if (r.path == kImportCommand) {
        if (r.method != "POST") return answerOf(refusal(405, QStringLiteral("commands are sent with POST")));
        return answerOf(runCommand(m_sources, r.body, QStringLiteral("calendarImport")));
    }
    if (r.path == "/api/state") {
        if (auto refused = onlyGet()) return *refused;
        return jsonAnswer(200, stateJson(m_sources));
    }
    if (r.path.startsWith("/api/outputs/")) {
        if (auto refused = onlyGet()) return *refused;
        bool ok = false;
        const int m = r.path.mid(13).toInt(&ok);
        if (!ok || m < 1 || m > 8) return answerOf(refusal(404, QStringLiteral("there are outputs 1 to 8")));
        return jsonAnswer(200, outputJson(m_sources, m));
    }
    if (r.path == "/api/inputs") {
        if (auto refused = onlyGet()) return *refused;
        return jsonAnswer(200, inputsJson(m_sources));
    }
    if (r.path == "/api/port") {
        if (auto refused = onlyGet()) return *refused;
        return jsonAnswer(200, portJson(m_sources));
    }
    if (r.path == "/api/mqtt") {
        if (auto refused = onlyGet()) return *refused;
        return jsonAnswer(200, mqttJson(m_sources));
    }
    if (r.path == "/api/calendar") {
        if (auto refused = onlyGet()) return *refused;
        return jsonAnswer(200, calendarJson(m_sources));
    }
    if (r.path == "/api/next") {
        if (auto refused = onlyGet()) return *refused;
        QJsonArray outputs;
        std::array<week::NextSwitching, 8> next;
        for (int m = 1; m <= 8; ++m) {
            next[m - 1] = m_sources.week.next(m);
            const QJsonObject o = outputJson(m_sources, m);
            outputs.append(QJsonObject{{QStringLiteral("output"), m},
                                       {QStringLiteral("location"), o.value(QStringLiteral("location"))},
                                       {QStringLiteral("state"), o.value(QStringLiteral("state"))},
                                       {QStringLiteral("next"), o.value(QStringLiteral("next"))}});
        }
        return jsonAnswer(200, QJsonObject{{QStringLiteral("text"), week::nextOverviewText(next)},
                                     {QStringLiteral("outputs"), outputs}});
    }
    return answerOf(refusal(
        404,
        QStringLiteral("no such call: %1 (see docs/api.md)").arg(QString::fromLatin1(r.path.left(200)))));
}

} // namespace kestra::api
