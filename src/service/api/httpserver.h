#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <optional>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QObject;
struct MHD_Daemon;
struct MHD_Connection;

namespace kestra::api {

struct HttpRequest
{
    HttpRequest(QByteArray m = {}, QByteArray p = {}, QByteArray b = {})
        : method(std::move(m)), path(std::move(p)), body(std::move(b))
    {}
    QByteArray method;
    QByteArray path;
    QByteArray body;
    // What the checks of a browser's request need.
    QMap<QByteArray, QByteArray> query; // the arguments after '?'
    QByteArray host, origin, authorization, cookies, csrf;
    QString peer;       // the client's address
    quint16 serverPort = 0; // the port it came in on
    bool tls = false;       // ... over TLS
    bool browser = false; // let in by a session rather than the token
    QByteArray session;   // that session's id
};

struct HttpResponse
{
    HttpResponse(int s = 200, QByteArray b = {}, QByteArray type = "application/json")
        : status(s), body(std::move(b)), contentType(std::move(type))
    {}
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<std::pair<QByteArray, QByteArray>> headers; // more header lines
};

// An answer in the API's JSON: `body` with "api": 1, one line.
HttpResponse jsonAnswer(int status, QJsonObject body);
// A refusal as every part of the server words it:
// {"api": 1, "ok": false, "error": {"status": 403, "text": "..."}}.
HttpResponse refusalAnswer(int status, const QString& text);

// Whether a request may pass, from its Authorization header. On the loopback a
// token check; the network's passwords and sessions take its place later.
class Authentication
{
public:
    virtual ~Authentication() = default;
    virtual bool allows(const QByteArray& authorization) const = 0;
    // The head of a request, on the server's thread before its body is read: a
    // refusal or an answer of its own; nothing lets it on. By default the token check.
    virtual std::optional<HttpResponse> admit(HttpRequest& head) const;
    // The whole request, on the server's thread: an answer of its own; nothing
    // hands it to the main thread.
    virtual std::optional<HttpResponse> answerHere(const HttpRequest&) const { return std::nullopt; }
    // Whether the browser's session an event stream was opened in still lets it
    // on; the stream ends when it does not. Called on the server's threads.
    virtual bool stillAdmits(const QByteArray& /*session*/) const { return true; }
    // Events for the one stream `request` opens, told right after the state it
    // starts with; none by default. Called on the server's threads.
    virtual QByteArray streamOpening(const HttpRequest& /*request*/) const { return {}; }
    // The answer to `request` when the main thread cannot take it now (too many
    // requests, or not in time); nothing: that refusal. Called on the server's threads.
    virtual std::optional<HttpResponse> whenBusy(const HttpRequest& /*request*/) const
    {
        return std::nullopt;
    }
    // `ended` is called (on a server's thread) whenever sessions end before
    // their time: a logout, a new password. Empty: no one is told.
    virtual void whenSessionsEnd(std::function<void()> /*ended*/) const {}
};

// Where the server listens: an IPv4 address, and TLS when a certificate and key (PEM) are given.
struct ListenOptions
{
    QByteArray address = "127.0.0.1";
    QByteArray certificate;
    QByteArray key;
};

// "Bearer <token>", compared in constant time.
class TokenAuthentication final : public Authentication
{
public:
    explicit TokenAuthentication(QByteArray token) : m_token(std::move(token)) {}
    bool allows(const QByteArray& authorization) const override;

private:
    QByteArray m_token;
};

// The bounds that keep a client from holding up the switch or filling the memory.
struct HttpLimits
{
    unsigned connections = 100;                   // at once, event streams included
    size_t connectionMemory = 32 * 1024;          // each connection's buffer for the request head
    qsizetype maxBody = 64 * 1024;                // larger bodies get 413
    // Paths whose requests may carry a larger body (a file), each with its own bound.
    std::vector<std::pair<QByteArray, qsizetype>> largerBodies;
    unsigned idleSeconds = 30;                    // a connection that moves nothing for this long is closed
    std::chrono::milliseconds answerWithin{2000}; // a request the main thread has not taken by then gets 503
    int waitingRequests = 16;                     // handed to the main thread and not answered yet
    double requestsPerSecond = 200;               // handed to the main thread, on average
    double burst = 100;                           // ... and at once
    int streams = 64;                             // event streams at once
    qsizetype streamBacklog = 256 * 1024; // bytes an event stream may fall behind before it is dropped
    std::chrono::seconds keepAlive{15};   // a comment on a quiet stream, so that a dead client shows
};

// An HTTP server on 127.0.0.1 (libmicrohttpd, one thread per connection). Its
// threads never touch the switch: each request that passed the checks is
// handed to the thread of `mainThread` (queued) and answered when done there,
// within a bound. Event streams read from bounded queues that the main thread
// fills without ever waiting for a client.
class HttpServer
{
public:
    // Runs on the main thread.
    using Handler = std::function<HttpResponse(const HttpRequest&)>;
    // Runs on the main thread when an event stream opens: the first bytes it
    // gets. Events broadcast after it are the stream's next.
    using Greeting = std::function<QByteArray()>;

    HttpServer(QObject* mainThread, const Authentication& auth, Handler handler, QByteArray streamPath,
               Greeting greeting, HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on 127.0.0.1:port (0: any free port), or where `options` say. False with the reason when it cannot.
    bool listen(quint16 port, QString* error, const ListenOptions& options = {});
    quint16 port() const { return m_port; }
    bool isListening() const { return m_daemon != nullptr; }

    // Main thread. Hands `bytes` to every open event stream; a stream too far
    // behind is dropped instead of waited for.
    void broadcast(const QByteArray& bytes);
    // The event streams open and not dropped.
    int streamCount() const;
    // Any thread. Ends the event streams whose session no longer lets them on.
    void endStreamsOfEndedSessions();

    // Requests not yet taken by the main thread are answered 503, streams end,
    // the threads are joined. Nothing is handed to the main thread after it.
    void stop();

private:
    struct Job;
    struct Stream;
    struct Pending;
    struct StreamHandle;

    friend struct HttpCallbacks;

    // The answer to a whole request that passed the token check.
    HttpResponse answer(Pending& p, std::shared_ptr<Stream>* stream);
    // Hands `run` to the main thread; its answer, or 503 when it is not taken within the bound.
    HttpResponse onMainThread(const std::function<HttpResponse()>& run);
    bool takeToken();
    void dropStream(const Stream* s);

    QObject* m_mainThread;
    const Authentication& m_auth;
    Handler m_handler;
    QByteArray m_streamPath;
    Greeting m_greeting;
    HttpLimits m_limits;
    MHD_Daemon* m_daemon = nullptr;
    quint16 m_port = 0;

    ListenOptions m_options; // kept while the daemon runs: it reads the key and certificate from them
    std::mutex m_mutex; // guards what follows
    bool m_stopping = false;
    std::vector<std::shared_ptr<Job>> m_jobs;
    int m_requests = 0; // begun and not yet completed, their answers included
    std::condition_variable m_requestsDone;
    double m_tokens = 0;
    std::chrono::steady_clock::time_point m_refilled;

    mutable std::mutex m_streamsMutex;
    std::vector<std::shared_ptr<Stream>> m_streams;
};

} // namespace kestra::api
