#pragma once

#include "base/buildconfig.h"
#include "service/api/httpserver.h"
#include "service/api/vocabulary.h"

#include <QDate>
#include <QObject>
#include <QTimer>
#include <bitset>
#include <memory>

namespace kestra::api {

// The API of the running switch: its HTTP server on 127.0.0.1, the token and
// the file that tells clients where to find it, and the events that follow
// every change of the model. Lives on the main thread beside the service.
//
//   GET  /api/state          everything (see docs/api.md)
//   GET  /api/outputs/N      one output
//   GET  /api/inputs, /api/port, /api/mqtt, /api/next, /api/calendar
//   POST /api/command        one edit, as a window hands it over
//   GET  /api/events         Server-Sent Events, one per change
// What a web front (web/) brings to the server: its own check of every request
// in place of the token's, where to listen, and routes of its own.
class Front
{
public:
    virtual ~Front() = default;
    virtual Authentication& authentication() = 0;
    // Where the page is offered besides 127.0.0.1, by a second server: a port, an
    // address of the network and TLS. Nothing: on the loopback only.
    virtual std::optional<std::pair<quint16, ListenOptions>> network() = 0;
    // The servers listen on `port` (127.0.0.1) and `networkPort` (0: none); local clients carry `token`.
    virtual void listening(quint16 port, quint16 networkPort, const QByteArray& token) = 0;
    // Main thread: the answer to a request of its own; nothing for the API's.
    virtual std::optional<HttpResponse> route(const HttpRequest& request) = 0;
};

class Api : public QObject
{
    Q_OBJECT
public:
    Api(const Sources& sources, QObject* parent = nullptr);
    ~Api() override;

    // Before start(): the web front the server serves too.
    void setFront(Front* front) { m_front = front; }

    // Listens on the port of the placement file (another free one when that is
    // taken) and writes the endpoint file. A failure is said once on standard
    // error; the switch runs on without the API.
    void start();
    // At the end, after the model's unload: the last events go out, the file is
    // removed, the server stops.
    void stop();

    bool isListening() const { return m_server && m_server->isListening(); }
    quint16 port() const { return m_server ? m_server->port() : 0; }
    const QByteArray& token() const { return m_token; }
    int streamCount() const
    {
        return (m_server ? m_server->streamCount() : 0) + (m_network ? m_network->streamCount() : 0);
    }

    // The answer to one request (main thread).
    HttpResponse respond(const HttpRequest& request);
    // Sends every change noted so far as events now.
    void flush();

private:
    // Outputs 1 to 8, then the other parts, then the week picture of outputs 1 to 8.
    enum Topic { Port = 8, Inputs, Locations, Mqtt, Calendar, Week, Count = Week + 8 };
    void note(int topic);
    void noteOutput(int m) { note(m - 1); }
    void noteWeek(int m) { note(Week + m - 1); }
    void noteAllOutputs();
    void send(const QByteArray& name, const QJsonObject& data);
    QByteArray greeting();

    Sources m_sources;
    Front* m_front = nullptr;
    QByteArray m_token;
    std::unique_ptr<TokenAuthentication> m_auth;
    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<HttpServer> m_network; // the web page's on a network address, when there is one
    std::bitset<Count> m_dirty;
    QTimer m_flush;
    quint8 m_lastDriven = 0;
    bool m_knownDriven = false;
    quint64 m_eventId = 0;
    QDate m_sunDay; // the date today's sun times were last told for
    bool m_started = false;
};

} // namespace kestra::api
