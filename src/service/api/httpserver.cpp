#include "service/api/httpserver.h"

#include "base/filehandles.h"
#include "client/endpoint.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QObject>
#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <deque>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <unistd.h>

namespace kestra::api {

HttpResponse jsonAnswer(int status, QJsonObject body)
{
    body.insert(QStringLiteral("api"), kVersion);
    return {status, QJsonDocument(body).toJson(QJsonDocument::Compact) + '\n'};
}

HttpResponse refusalAnswer(int status, const QString& text)
{
    const QJsonObject error{{QStringLiteral("status"), status}, {QStringLiteral("text"), text}};
    return jsonAnswer(status, {{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}});
}

namespace {

// A refused body up to this size is read and dropped, a larger one cut off.
constexpr qint64 kDrainAtMost = 16 << 20;

HttpResponse unauthorized()
{
    return refusalAnswer(401,
                   QStringLiteral("a request must carry the switch's token: Authorization: Bearer <token>"));
}

HttpResponse tooLarge(qsizetype limit)
{
    return refusalAnswer(413, QStringLiteral("the body is larger than %1 bytes").arg(limit));
}

// The server's threads give way to the switch: a flood of requests must not
// take the processor from the scan.
void yieldToTheSwitch()
{
    thread_local bool lowered = false;
    if (lowered) return;
    lowered = true;
    ::setpriority(PRIO_PROCESS, ::gettid(), 10);
}

MHD_Result queue(MHD_Connection* c, const HttpResponse& r)
{
    MHD_Response* response = MHD_create_response_from_buffer(
        size_t(r.body.size()), const_cast<char*>(r.body.constData()), MHD_RESPMEM_MUST_COPY);
    if (!response) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, r.contentType.constData());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    for (const auto& [name, value] : r.headers)
        MHD_add_response_header(response, name.constData(), value.constData());
    if (r.status == 401 && r.headers.isEmpty()) MHD_add_response_header(response, MHD_HTTP_HEADER_WWW_AUTHENTICATE, "Bearer");
    const MHD_Result ok = MHD_queue_response(c, unsigned(r.status), response);
    MHD_destroy_response(response);
    return ok;
}

MHD_Result addArgument(void* cls, MHD_ValueKind, const char* key, const char* value)
{
    static_cast<QMap<QByteArray, QByteArray>*>(cls)->insert(key, value ? value : "");
    return MHD_YES;
}

QByteArray header(MHD_Connection* c, const char* name)
{
    return MHD_lookup_connection_value(c, MHD_HEADER_KIND, name);
}

QString peerOf(MHD_Connection* c)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr) return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (info->client_addr->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr, text, sizeof text);
    else if (info->client_addr->sa_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(info->client_addr)->sin6_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

} // namespace

std::optional<HttpResponse> Authentication::admit(HttpRequest& head) const
{
    if (allows(head.authorization)) return std::nullopt;
    return unauthorized();
}

bool TokenAuthentication::allows(const QByteArray& authorization) const
{
    static const QByteArray kScheme = "Bearer ";
    if (m_token.isEmpty() || !authorization.startsWith(kScheme)) return false;
    const QByteArray given = authorization.mid(kScheme.size()).trimmed();
    // Every byte compared, so that the time taken tells nothing of the token.
    unsigned char diff = given.size() == m_token.size() ? 0 : 1;
    for (qsizetype i = 0; i < m_token.size(); ++i)
        diff |= (uchar(m_token.at(i)) ^ uchar(i < given.size() ? given.at(i) : 0));
    return diff == 0;
}

// One request handed to the main thread.
struct HttpServer::Job
{
    enum class Phase { Waiting, Running, Done, Cancelled };
    std::mutex mutex;
    std::condition_variable done;
    Phase phase = Phase::Waiting;
    HttpResponse response;
};

// One event stream: what the main thread has queued and the stream has not sent.
struct HttpServer::Stream
{
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<QByteArray> queue;
    qsizetype queued = 0; // bytes in the queue not yet sent
    qsizetype sentOfFront = 0;
    bool dropped = false;
    bool ended = false;
    QByteArray session; // the browser's session it was opened in; empty for a client with the token
};

// What one connection's request has brought so far.
struct HttpServer::Pending
{
    HttpRequest request;
    std::optional<HttpResponse> refusal; // the checks' answer, given once the body is read
    bool authorized = false;
    bool tooLarge = false;
    qsizetype maxBody = 0; // the bound of this request's path
};

struct HttpServer::StreamHandle
{
    HttpServer* server;
    std::shared_ptr<Stream> stream;
    std::chrono::seconds keepAlive;
};

struct HttpCallbacks
{
    static MHD_Result access(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                             const char* upload, size_t* uploadSize, void** context)
    {
        auto* server = static_cast<HttpServer*>(cls);
        yieldToTheSwitch();
        auto* p = static_cast<HttpServer::Pending*>(*context);
        if (!p) {
            p = new HttpServer::Pending;
            *context = p;
            {
                std::lock_guard lock(server->m_mutex);
                ++server->m_requests;
            }
            HttpRequest& r = p->request;
            r.method = method;
            r.path = url;
            r.host = header(c, MHD_HTTP_HEADER_HOST);
            r.origin = header(c, "Origin");
            r.authorization = header(c, MHD_HTTP_HEADER_AUTHORIZATION);
            r.cookies = header(c, MHD_HTTP_HEADER_COOKIE);
            r.csrf = header(c, "X-Kestra-CSRF");
            r.peer = peerOf(c);
            r.serverPort = server->m_port;
            r.tls = !server->m_options.certificate.isEmpty();
            MHD_get_connection_values(c, MHD_GET_ARGUMENT_KIND, &addArgument, &r.query);
            p->refusal = server->m_auth.admit(r);
            p->authorized = !p->refusal;
            const char* length =
                MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            const qint64 declared = length ? QByteArray(length).toLongLong() : 0;
            p->maxBody = server->m_limits.maxBody;
            for (const auto& [path, bound] : server->m_limits.largerBodies)
                if (r.path == path) p->maxBody = bound;
            p->tooLarge = declared > p->maxBody;
            // A body of a sane size is read and dropped before the refusal, so that
            // the client, still sending, reads the answer rather than a reset
            // connection; a huge one is refused at once.
            if (declared > kDrainAtMost) return queue(c, p->authorized ? tooLarge(p->maxBody) : *p->refusal);
            return MHD_YES;
        }
        if (*uploadSize != 0) {
            if (p->authorized && !p->tooLarge) {
                if (p->request.body.size() + qsizetype(*uploadSize) > p->maxBody) {
                    p->tooLarge = true;
                    p->request.body.clear();
                } else
                    p->request.body.append(upload, qsizetype(*uploadSize));
            }
            *uploadSize = 0;
            return MHD_YES;
        }
        if (!p->authorized) return queue(c, *p->refusal);
        std::shared_ptr<HttpServer::Stream> stream;
        if (!p->tooLarge)
            if (const std::optional<HttpResponse> own = server->m_auth.answerHere(p->request)) return queue(c, *own);
        const HttpResponse r = p->tooLarge ? tooLarge(p->maxBody) : server->answer(*p, &stream);
        if (!stream) return queue(c, r);

        auto* handle = new HttpServer::StreamHandle{server, stream, server->m_limits.keepAlive};
        MHD_Response* response =
            MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &readStream, handle, &freeStream);
        if (!response) {
            freeStream(handle);
            return MHD_NO;
        }
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
        MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
        const MHD_Result ok = MHD_queue_response(c, MHD_HTTP_OK, response);
        MHD_destroy_response(response);
        return ok;
    }

    // Runs on the thread that accepts connections: it, and the connection threads
    // it starts (which inherit its priority), give way to the switch.
    static void connectionNotice(void*, MHD_Connection*, void**, MHD_ConnectionNotificationCode)
    {
        yieldToTheSwitch();
    }

    static void completed(void* cls, MHD_Connection*, void** context, MHD_RequestTerminationCode)
    {
        if (!*context) return;
        delete static_cast<HttpServer::Pending*>(*context);
        *context = nullptr;
        auto* server = static_cast<HttpServer*>(cls);
        std::lock_guard lock(server->m_mutex);
        if (--server->m_requests == 0) server->m_requestsDone.notify_all();
    }

    static ssize_t readStream(void* cls, uint64_t, char* buf, size_t max)
    {
        auto* handle = static_cast<HttpServer::StreamHandle*>(cls);
        HttpServer::Stream& s = *handle->stream;
        std::unique_lock lock(s.mutex);
        s.ready.wait_for(lock, handle->keepAlive, [&] { return !s.queue.empty() || s.dropped || s.ended; });
        if (s.dropped) return MHD_CONTENT_READER_END_WITH_ERROR;
        if (s.queue.empty()) {
            // A quiet stream is where an expired session shows.
            if (!s.ended && !s.session.isEmpty() && !handle->server->m_auth.stillAdmits(s.session))
                return MHD_CONTENT_READER_END_OF_STREAM;
            if (s.ended) return MHD_CONTENT_READER_END_OF_STREAM;
            static const char kAlive[] = ": keep-alive\n\n";
            const size_t n = std::min(max, sizeof kAlive - 1);
            std::memcpy(buf, kAlive, n);
            return ssize_t(n);
        }
        size_t written = 0;
        while (written < max && !s.queue.empty()) {
            const QByteArray& front = s.queue.front();
            const size_t n = std::min(max - written, size_t(front.size() - s.sentOfFront));
            std::memcpy(buf + written, front.constData() + s.sentOfFront, n);
            written += n;
            s.sentOfFront += qsizetype(n);
            s.queued -= qsizetype(n);
            if (s.sentOfFront == front.size()) {
                s.queue.pop_front();
                s.sentOfFront = 0;
            }
        }
        return ssize_t(written);
    }

    static void freeStream(void* cls)
    {
        auto* handle = static_cast<HttpServer::StreamHandle*>(cls);
        handle->server->dropStream(handle->stream.get());
        delete handle;
    }
};

HttpServer::HttpServer(QObject* mainThread, const Authentication& auth, Handler handler,
                       QByteArray streamPath, Greeting greeting, HttpLimits limits)
    : m_mainThread(mainThread), m_auth(auth), m_handler(std::move(handler)),
      m_streamPath(std::move(streamPath)), m_greeting(std::move(greeting)), m_limits(limits),
      m_tokens(limits.burst), m_refilled(std::chrono::steady_clock::now())
{}

HttpServer::~HttpServer()
{
    stop();
}

bool HttpServer::listen(quint16 port, QString* error, const ListenOptions& options)
{
    if (m_daemon) return true;
    m_options = options;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, options.address.constData(), &address.sin_addr) != 1) {
        if (error) *error = QStringLiteral("%1 is no IPv4 address").arg(QString::fromLatin1(options.address));
        return false;
    }
    const bool tls = !options.certificate.isEmpty();
    unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | MHD_USE_ITC;
    if (tls) flags |= MHD_USE_TLS;
    // The key and certificate follow only under TLS: otherwise MHD_OPTION_END ends the list before them.
    m_daemon = MHD_start_daemon(flags, port, nullptr, nullptr, &HttpCallbacks::access, this,
                                MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_CONNECTION_LIMIT,
                                m_limits.connections, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
                                m_limits.connectionMemory, MHD_OPTION_CONNECTION_TIMEOUT,
                                m_limits.idleSeconds, MHD_OPTION_NOTIFY_COMPLETED, &HttpCallbacks::completed,
                                this, MHD_OPTION_THREAD_STACK_SIZE, size_t(256 * 1024),
                                tls ? MHD_OPTION_HTTPS_MEM_KEY : MHD_OPTION_END, m_options.key.constData(),
                                MHD_OPTION_HTTPS_MEM_CERT, m_options.certificate.constData(), MHD_OPTION_END);
    if (!m_daemon) {
        if (error)
            *error = QStringLiteral("%1:%2 cannot be listened on (%3)")
                         .arg(QString::fromLatin1(options.address))
                         .arg(port)
                         .arg(fileHandleShortageOr(tls ? QStringLiteral("in use? or the certificate and key do not fit")
                                                       : QStringLiteral("in use?")));
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info ? info->port : port;
    return true;
}

bool HttpServer::takeToken()
{
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - m_refilled).count();
    m_refilled = now;
    m_tokens = std::min(m_limits.burst, m_tokens + seconds * m_limits.requestsPerSecond);
    if (m_tokens < 1) return false;
    m_tokens -= 1;
    return true;
}

HttpResponse HttpServer::onMainThread(const std::function<HttpResponse()>& run)
{
    auto job = std::make_shared<Job>();
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) return refusalAnswer(503, QStringLiteral("the switch is ending"));
        if (!takeToken()) return refusalAnswer(429, QStringLiteral("too many requests: slow down"));
        if (int(m_jobs.size()) >= m_limits.waitingRequests)
            return refusalAnswer(503, QStringLiteral("the switch is busy with other requests: try again"));
        m_jobs.push_back(job);
    }
    QMetaObject::invokeMethod(
        m_mainThread,
        [job, run] {
            {
                std::lock_guard lock(job->mutex);
                if (job->phase != Job::Phase::Waiting) return;
                job->phase = Job::Phase::Running;
            }
            HttpResponse r;
            try {
                r = run();
            } catch (const std::exception& e) {
                r = refusalAnswer(500,
                            QStringLiteral("internal failure: %1").arg(QString::fromLocal8Bit(e.what())));
            } catch (...) {
                r = refusalAnswer(500, QStringLiteral("internal failure"));
            }
            std::lock_guard lock(job->mutex);
            job->response = std::move(r);
            job->phase = Job::Phase::Done;
            job->done.notify_all();
        },
        Qt::QueuedConnection);

    HttpResponse r;
    {
        std::unique_lock lock(job->mutex);
        job->done.wait_for(lock, m_limits.answerWithin, [&] { return job->phase != Job::Phase::Waiting; });
        // Not taken in time: it never will be. Taken: the main thread finishes it.
        if (job->phase == Job::Phase::Waiting) job->phase = Job::Phase::Cancelled;
        job->done.wait(lock,
                       [&] { return job->phase == Job::Phase::Done || job->phase == Job::Phase::Cancelled; });
        r = job->phase == Job::Phase::Done
                ? std::move(job->response)
                : refusalAnswer(503, QStringLiteral("the switch did not take the request in time"));
    }
    std::lock_guard lock(m_mutex);
    m_jobs.erase(std::remove(m_jobs.begin(), m_jobs.end(), job), m_jobs.end());
    return r;
}

HttpResponse HttpServer::answer(Pending& p, std::shared_ptr<Stream>* stream)
{
    const HttpRequest request = p.request;
    if (request.path != m_streamPath) {
        HttpResponse r = onMainThread([this, request] { return m_handler(request); });
        if (r.status == 429 || r.status == 503)
            if (std::optional<HttpResponse> busy = m_auth.whenBusy(request)) return *busy;
        return r;
    }
    if (request.method != "GET") return refusalAnswer(405, QStringLiteral("the event stream is read with GET"));
    {
        std::lock_guard lock(m_streamsMutex);
        if (int(m_streams.size()) >= m_limits.streams)
            return refusalAnswer(503, QStringLiteral("too many event streams are open"));
    }
    auto s = std::make_shared<Stream>();
    if (request.browser) s->session = request.session;
    const QByteArray opening = m_auth.streamOpening(request);
    // The greeting and the registration happen in one turn of the main thread,
    // so that no event falls between the state it tells and the next one.
    HttpResponse r = onMainThread([this, s, opening] {
        const QByteArray greeting = m_greeting() + opening;
        std::lock_guard lock(m_streamsMutex);
        s->queue.push_back(greeting);
        s->queued = greeting.size();
        m_streams.push_back(s);
        return HttpResponse{};
    });
    if (r.status == 200) *stream = s;
    return r;
}

void HttpServer::broadcast(const QByteArray& bytes)
{
    std::lock_guard lock(m_streamsMutex);
    for (const std::shared_ptr<Stream>& s : m_streams) {
        std::lock_guard streamLock(s->mutex);
        if (s->dropped || s->ended) continue;
        if (s->queued + bytes.size() > m_limits.streamBacklog) {
            // A client that does not read is let go, never waited for.
            s->dropped = true;
            s->queue.clear();
            s->queued = 0;
        } else {
            s->queue.push_back(bytes);
            s->queued += bytes.size();
        }
        s->ready.notify_one();
    }
}

int HttpServer::streamCount() const
{
    std::lock_guard lock(m_streamsMutex);
    return int(std::count_if(m_streams.begin(), m_streams.end(), [](const std::shared_ptr<Stream>& s) {
        std::lock_guard streamLock(s->mutex);
        return !s->dropped;
    }));
}

void HttpServer::endStreamsOfEndedSessions()
{
    std::lock_guard lock(m_streamsMutex);
    for (const std::shared_ptr<Stream>& s : m_streams) {
        if (s->session.isEmpty() || m_auth.stillAdmits(s->session)) continue;
        // Nothing more goes to a browser that logged out, not even what is queued.
        std::lock_guard streamLock(s->mutex);
        s->ended = true;
        s->queue.clear();
        s->queued = 0;
        s->sentOfFront = 0;
        s->ready.notify_all();
    }
}

void HttpServer::dropStream(const Stream* s)
{
    std::lock_guard lock(m_streamsMutex);
    m_streams.erase(std::remove_if(m_streams.begin(), m_streams.end(),
                                   [s](const std::shared_ptr<Stream>& x) { return x.get() == s; }),
                    m_streams.end());
}

void HttpServer::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        for (const std::shared_ptr<Job>& job : m_jobs) {
            std::lock_guard jobLock(job->mutex);
            if (job->phase == Job::Phase::Waiting) job->phase = Job::Phase::Cancelled;
            job->done.notify_all();
        }
    }
    {
        std::lock_guard lock(m_streamsMutex);
        for (const std::shared_ptr<Stream>& s : m_streams) {
            std::lock_guard streamLock(s->mutex);
            s->ended = true;
            s->ready.notify_all();
        }
    }
    if (m_daemon) {
        // The answers already made go out before the connections close: the
        // answer to "stop" among them, which a client would otherwise take for
        // a switch that was not running. Bounded: a client that reads nothing
        // is not waited for.
        {
            std::unique_lock lock(m_mutex);
            m_requestsDone.wait_for(lock, std::chrono::milliseconds(500), [this] { return m_requests == 0; });
        }
        MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
    }
}

} // namespace kestra::api
