#include "client/apirequest.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

namespace kestra::api {

bool splitHead(const QByteArray& data, int* status, qsizetype* bodyStart)
{
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (end < 0) return false;
    const QList<QByteArray> first = data.left(data.indexOf("\r\n")).split(' ');
    *status = first.size() >= 2 ? first.at(1).toInt() : 0;
    *bodyStart = end + 4;
    return true;
}

QByteArray apiRequest(const QByteArray& method, const QByteArray& path, const QByteArray& token,
                      const QByteArray& body)
{
    QByteArray r = method + ' ' + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + token + "\r\n";
    if (!body.isNull())
        r += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    return r + "\r\n" + body;
}

qsizetype nextEvent(const QByteArray& stream, qsizetype from, QByteArray* name, QByteArray* data)
{
    const qsizetype end = stream.indexOf("\n\n", from);
    if (end < 0) return -1;
    *name = "message";
    data->clear();
    for (const QByteArray& line : stream.mid(from, end - from).split('\n')) {
        if (line.startsWith("event:"))
            *name = line.mid(6).trimmed();
        else if (line.startsWith("data:"))
            *data += (data->isEmpty() ? QByteArray() : QByteArray("\n")) + line.mid(5).trimmed();
    }
    return end + 2;
}

Reply Client::get(const QByteArray& path, std::chrono::milliseconds timeout) const
{
    return raw(apiRequest("GET", path, m_token, QByteArray()), timeout);
}

Reply Client::post(const QByteArray& path, const QByteArray& json, std::chrono::milliseconds timeout) const
{
    return raw(apiRequest("POST", path, m_token, json.isNull() ? QByteArray("") : json), timeout);
}

Reply Client::raw(const QByteArray& request, std::chrono::milliseconds timeout) const
{
    Reply reply;
    QTcpSocket socket;
    QEventLoop loop;
    QByteArray data;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        reply.error = QStringLiteral("no answer within %1 ms").arg(timeout.count());
        loop.quit();
    });
    QObject::connect(&socket, &QTcpSocket::connected, &loop, [&] { socket.write(request); });
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] { data += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError) return; // the end of an answer
        reply.error = socket.errorString();
        loop.quit();
    });
    timer.start(timeout);
    socket.connectToHost(QStringLiteral("127.0.0.1"), m_port);
    loop.exec();
    data += socket.readAll();
    qsizetype start = 0;
    if (splitHead(data, &reply.status, &start)) {
        reply.body = data.mid(start);
        reply.error.clear();
    } else if (reply.error.isEmpty())
        reply.error = QStringLiteral("the connection ended without an answer");
    return reply;
}

Reply Client::watch(const std::function<bool(const QByteArray&, const QByteArray&)>& onEvent,
                    std::chrono::milliseconds timeout) const
{
    Reply reply;
    QTcpSocket socket;
    QEventLoop loop;
    QByteArray data;
    bool headDone = false;
    qsizetype parsed = 0;
    const auto take = [&] {
        data += socket.readAll();
        if (!headDone) {
            qsizetype start = 0;
            if (!splitHead(data, &reply.status, &start)) return;
            headDone = true;
            parsed = start;
            if (reply.status != 200) return; // the body is the refusal, read to the end
        }
        if (reply.status != 200) return;
        QByteArray name, payload;
        for (qsizetype next; (next = nextEvent(data, parsed, &name, &payload)) >= 0;) {
            parsed = next;
            if (!payload.isEmpty() && !onEvent(name, payload)) {
                reply.error = QStringLiteral("stopped");
                loop.quit();
                return;
            }
        }
        data.remove(0, parsed);
        parsed = 0;
    };
    QObject::connect(&socket, &QTcpSocket::connected, &loop,
                     [&] { socket.write(apiRequest("GET", "/api/events", m_token, QByteArray())); });
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, take);
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, [&] {
        if (reply.error.isEmpty()) reply.error = QStringLiteral("the switch ended the stream");
        loop.quit();
    });
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError) return;
        if (reply.error.isEmpty()) reply.error = socket.errorString();
        loop.quit();
    });
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        reply.error = QStringLiteral("no end within %1 ms").arg(timeout.count());
        loop.quit();
    });
    if (timeout.count() > 0) timer.start(timeout);
    socket.connectToHost(QStringLiteral("127.0.0.1"), m_port);
    loop.exec();
    if (headDone && reply.status != 200) reply.body = data.mid(data.indexOf("\r\n\r\n") + 4);
    return reply;
}

} // namespace kestra::api
