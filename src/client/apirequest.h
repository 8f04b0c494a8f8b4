#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>

namespace kestra::api {

// One answer of the API: the HTTP status and the body. Status 0: no answer at
// all (`error` says why: nothing listens, the connection broke, time ran out).
struct Reply
{
    int status = 0;
    QByteArray body;
    QString error;
};

// Splits "HTTP/1.0 200 OK\r\nheaders\r\n\r\nbody" into the status and where the
// body begins; false while the head is not complete.
bool splitHead(const QByteArray& data, int* status, qsizetype* bodyStart);

// The request a client of the API sends, with the token. HTTP/1.0: the answer
// ends with the connection, an event stream included. A null body: none.
QByteArray apiRequest(const QByteArray& method, const QByteArray& path, const QByteArray& token,
                      const QByteArray& body);

// The event of an event stream that starts at `from` ("event: name", "data: ..."
// lines, a blank line): its name ("message" when it has none) and its data.
// Returns where the next one starts, or -1 while this one is not complete.
qsizetype nextEvent(const QByteArray& stream, qsizetype from, QByteArray* name, QByteArray* data);

// A client of the running switch's API on 127.0.0.1: one connection per
// request. The calls wait in a local event loop, so a switch served by the same
// thread (a test) goes on meanwhile.
class Client
{
public:
    Client(quint16 port, QByteArray token) : m_port(port), m_token(std::move(token)) {}

    Reply get(const QByteArray& path, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    Reply post(const QByteArray& path, const QByteArray& json,
               std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // The whole exchange, for requests the calls above do not make (a test's bad ones).
    Reply raw(const QByteArray& request, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

    // Follows the event stream: `onEvent` gets each event's name and data and
    // returns false to stop. Returns the reply that ended it (status 200 when the
    // stream itself ended, with `error` saying so).
    // A `timeout` other than 0 ends it then.
    Reply watch(const std::function<bool(const QByteArray& event, const QByteArray& data)>& onEvent,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(0)) const;

private:
    quint16 m_port;
    QByteArray m_token;
};

} // namespace kestra::api
