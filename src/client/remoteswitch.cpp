#include "client/remoteswitch.h"

#include "client/apirequest.h"
#include "client/endpoint.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpSocket>
#include <algorithm>
#include <csignal>

namespace kestra::client {

using namespace std::chrono_literals;

namespace {

// The first try again comes soon (a switch that is being restarted), later ones
// every two seconds: nothing else runs while no switch is there.
constexpr auto kFirstRetry = 200ms;
constexpr auto kLastRetry = 2000ms;

// `done`, called only while `context` still exists: a view closed before the answer came hears nothing.
std::function<void(const CommandResult&)> whileThere(const QObject* context,
                                                     std::function<void(const CommandResult&)> done)
{
    return [guard = QPointer<const QObject>(context), done = std::move(done)](const CommandResult& r) {
        if (guard) done(r);
    };
}

std::array<bool, 7> bools(const QJsonValue& v)
{
    std::array<bool, 7> r{};
    const QJsonArray a = v.toArray();
    for (int d = 0; d < 7 && d < a.size(); ++d)
        r[size_t(d)] = a.at(d).toBool();
    return r;
}

bool processRuns(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

} // namespace

Output decodeOutput(const QJsonObject& o)
{
    Output r;
    r.number = o.value(QStringLiteral("output")).toInt();
    r.location = o.value(QStringLiteral("location")).toString();
    r.caption = o.value(QStringLiteral("caption")).toString();
    r.days = bools(o.value(QStringLiteral("days")));
    r.finishDays = bools(o.value(QStringLiteral("finishDays")));
    r.mode = o.value(QStringLiteral("mode")).toString();
    for (const QJsonValue& v : o.value(QStringLiteral("times")).toArray()) {
        const QJsonObject t = v.toObject();
        TimeBox box;
        box.name = t.value(QStringLiteral("name")).toString();
        box.text = t.value(QStringLiteral("text")).toString();
        if (t.value(QStringLiteral("seconds")).isDouble()) box.seconds = t.value(QStringLiteral("seconds")).toInt();
        box.changed = t.value(QStringLiteral("changed")).toBool();
        box.editing = t.value(QStringLiteral("editing")).toBool();
        r.times.push_back(box);
    }
    r.unsaved = o.value(QStringLiteral("unsaved")).toBool();
    r.state = o.value(QStringLiteral("state")).toString();
    r.cause = o.value(QStringLiteral("cause")).toString();
    if (o.value(QStringLiteral("driven")).isBool()) r.driven = o.value(QStringLiteral("driven")).toBool();
    const QJsonObject next = o.value(QStringLiteral("next")).toObject();
    r.nextText = next.value(QStringLiteral("text")).toString();
    r.nextToolTip = next.value(QStringLiteral("toolTip")).toString();
    r.pulse = o.value(QStringLiteral("pulse")).toObject();
    r.hours = o.value(QStringLiteral("hours")).toObject();
    return r;
}

RemoteSwitch::RemoteSwitch(BuildConfig build, QObject* parent) : QObject(parent), m_build(std::move(build))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &RemoteSwitch::tryAttach);
}

RemoteSwitch::~RemoteSwitch()
{
    if (m_stream) m_stream->disconnect(this);
}

void RemoteSwitch::start()
{
    m_backoff = 0ms;
    tryAttach();
}

void RemoteSwitch::tryAttach()
{
    if (m_stream) return;
    QString why;
    const std::optional<api::Endpoint> e = api::readEndpoint(m_build, &why);
    if (!e || !processRuns(e->pid)) {
        streamEnded(e ? QStringLiteral("the switch of the endpoint file is not running") : why);
        return;
    }
    m_apiPort = e->port;
    m_token = e->token;
    m_pid = e->pid;
    m_buffer.clear();
    m_headDone = false;
    m_stream = new QTcpSocket(this);
    QTcpSocket* s = m_stream;
    connect(s, &QTcpSocket::connected, this, [this, s] { s->write(api::apiRequest("GET", "/api/events", m_token, QByteArray())); });
    connect(s, &QTcpSocket::readyRead, this, &RemoteSwitch::streamData);
    connect(s, &QTcpSocket::disconnected, this,
            [this] { streamEnded(QStringLiteral("the switch ended the stream")); });
    connect(s, &QTcpSocket::errorOccurred, this, [this, s](QAbstractSocket::SocketError) {
        streamEnded(s->errorString());
    });
    s->connectToHost(QStringLiteral("127.0.0.1"), m_apiPort);
}

void RemoteSwitch::streamData()
{
    m_buffer += m_stream->readAll();
    if (!m_headDone) {
        int status = 0;
        qsizetype start = 0;
        if (!api::splitHead(m_buffer, &status, &start)) return;
        if (status != 200) {
            streamEnded(QStringLiteral("the switch refused the stream (%1)").arg(status));
            return;
        }
        m_headDone = true;
        m_buffer.remove(0, start);
    }
    qsizetype parsed = 0;
    QByteArray name, payload;
    for (qsizetype next; (next = api::nextEvent(m_buffer, parsed, &name, &payload)) >= 0;) {
        parsed = next;
        if (!payload.isEmpty()) event(name, payload);
        if (!m_stream) return; // the event ended the stream
    }
    m_buffer.remove(0, parsed);
}

void RemoteSwitch::streamEnded(const QString& why)
{
    if (m_stream) {
        QTcpSocket* s = m_stream;
        m_stream = nullptr;
        s->disconnect(this);
        s->abort();
        s->deleteLater();
    }
    m_why = why;
    const bool was = m_attached;
    m_attached = false;
    m_backoff = m_backoff == 0ms ? kFirstRetry : std::min<std::chrono::milliseconds>(m_backoff * 2, kLastRetry);
    m_retry.start(m_backoff);
    if (was) emit detached();
}

void RemoteSwitch::event(const QByteArray& name, const QByteArray& data)
{
    const QJsonObject o = QJsonDocument::fromJson(data).object();
    if (name == "state") {
        takeState(o);
        m_attached = true;
        m_why.clear();
        m_backoff = 0ms;
        m_retry.stop();
        emit attached();
        if (m_startTimes.isEmpty()) askPresets();
    } else if (name == "output") {
        takeOutput(o);
    } else if (name == "inputs") {
        if (o != m_inputs) {
            m_inputs = o;
            emit inputsChanged();
        }
    } else if (name == "port") {
        if (o != m_port) {
            m_port = o;
            emit portChanged();
        }
    } else if (name == "mqtt") {
        if (o != m_mqtt) {
            m_mqtt = o;
            emit mqttChanged();
        }
    } else if (name == "calendar") {
        if (o != m_calendar) {
            m_calendar = o;
            emit calendarChanged();
        }
    } else if (name == "locations") {
        takeLocations(o.value(QStringLiteral("locations")).toArray());
    } else if (name == "ending") {
        emit ending();
    }
}

void RemoteSwitch::takeState(const QJsonObject& o)
{
    m_title = o.value(QStringLiteral("title")).toString();
    m_version = o.value(QStringLiteral("version")).toString();
    m_historyFile = o.value(QStringLiteral("historyFile")).toString();
    for (const QJsonValue& v : o.value(QStringLiteral("outputs")).toArray())
        takeOutput(v.toObject());
    m_inputs = o.value(QStringLiteral("inputs")).toObject();
    m_port = o.value(QStringLiteral("port")).toObject();
    m_mqtt = o.value(QStringLiteral("mqtt")).toObject();
    m_calendar = o.value(QStringLiteral("calendar")).toObject();
    takeLocations(o.value(QStringLiteral("locations")).toArray());
    emit inputsChanged();
    emit portChanged();
    emit mqttChanged();
    emit calendarChanged();
}

void RemoteSwitch::takeOutput(const QJsonObject& o)
{
    const int m = o.value(QStringLiteral("output")).toInt();
    if (m < 1 || m > 8) return;
    Output decoded = decodeOutput(o);
    if (decoded == m_outputs.at(size_t(m - 1))) return;
    m_outputs[size_t(m - 1)] = std::move(decoded);
    m_outputTimes[size_t(m - 1)] = QDateTime::currentMSecsSinceEpoch();
    emit outputChanged(m);
}

void RemoteSwitch::takeLocations(const QJsonArray& a)
{
    QStringList l;
    for (const QJsonValue& v : a)
        l << v.toString();
    if (l == m_locations) return;
    m_locations = l;
    emit locationsChanged();
}

CommandResult RemoteSwitch::result(int status, const QByteArray& body, const QString& error)
{
    CommandResult r;
    r.status = status;
    r.body = body;
    const QJsonObject e = QJsonDocument::fromJson(body).object().value(QStringLiteral("error")).toObject();
    r.number = e.value(QStringLiteral("number")).toInt();
    r.description = e.value(QStringLiteral("description")).toString();
    r.text = e.value(QStringLiteral("text")).toString();
    if (r.text.isEmpty() && status != 200)
        r.text = status == 0 ? QStringLiteral("The time switch is not running (%1).").arg(error)
                             : QStringLiteral("The time switch refused the edit (%1).").arg(status);
    return r;
}

void RemoteSwitch::send(const QJsonObject& command, std::function<void(const CommandResult&)> done)
{
    request("POST", "/api/command", QJsonDocument(command).toJson(QJsonDocument::Compact), std::move(done));
}

void RemoteSwitch::get(const QByteArray& path, const QObject* context, std::function<void(const CommandResult&)> done)
{
    request("GET", path, QByteArray(), whileThere(context, std::move(done)));
}

void RemoteSwitch::refreshOutput(int m)
{
    get("/api/outputs/" + QByteArray::number(m), this, [this](const CommandResult& r) {
        if (!r.ok() || !m_attached) return;
        takeOutput(QJsonDocument::fromJson(r.body).object());
    });
}

void RemoteSwitch::askPresets()
{
    get("/api/web/presets", this, [this](const CommandResult& r) {
        if (!r.ok()) return; // the boxes offer no list, and take any time typed
        const QJsonObject o = QJsonDocument::fromJson(r.body).object();
        const auto list = [&](const char* key) {
            QStringList l;
            for (const QJsonValue& v : o.value(QLatin1String(key)).toArray())
                l << v.toString();
            return l;
        };
        m_startTimes = list("startTimes");
        m_runTimes = list("runTimes");
        emit presetsChanged();
    });
}

void RemoteSwitch::request(const QByteArray& method, const QByteArray& path, const QByteArray& body,
                           std::function<void(const CommandResult&)> done)
{
    if (!m_attached) {
        if (done) done(result(0, {}, QStringLiteral("not attached")));
        return;
    }
    auto* s = new QTcpSocket(this);
    auto data = std::make_shared<QByteArray>();
    auto finished = std::make_shared<bool>(false);
    const QByteArray req = api::apiRequest(method, path, m_token, body);
    const auto finish = [s, data, finished, done](const QString& error) {
        if (*finished) return;
        *finished = true;
        if (s->isOpen()) *data += s->readAll();
        int status = 0;
        qsizetype start = 0;
        const bool answered = api::splitHead(*data, &status, &start);
        if (done) done(result(answered ? status : 0, answered ? data->mid(start) : QByteArray(), error));
        s->deleteLater();
    };
    connect(s, &QTcpSocket::connected, s, [s, req] { s->write(req); });
    connect(s, &QTcpSocket::readyRead, s, [s, data] { *data += s->readAll(); });
    connect(s, &QTcpSocket::disconnected, s,
            [finish] { finish(QStringLiteral("it closed the connection without an answer")); });
    connect(s, &QTcpSocket::errorOccurred, s, [s, finish](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError) return; // the end of the answer
        finish(s->errorString());
    });
    s->connectToHost(QStringLiteral("127.0.0.1"), m_apiPort);
}

void RemoteSwitch::send(const QJsonObject& command, const QObject* context,
                        std::function<void(const CommandResult&)> done)
{
    send(command, whileThere(context, std::move(done)));
}

bool switchAnswers(const BuildConfig& build, std::chrono::milliseconds timeout)
{
    const std::optional<api::Endpoint> e = api::readEndpoint(build);
    if (!e || !processRuns(e->pid)) return false;
    return api::Client(e->port, e->token).get("/api/port", timeout).status == 200;
}

} // namespace kestra::client
