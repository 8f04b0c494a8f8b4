#include "service/web/gate.h"

#include "base/failure.h"
#include "client/endpoint.h"
#include "logic/auth/password.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

// The page's files live in this library's resources; a static library's must be registered by hand.
static void registerPage()
{
    Q_INIT_RESOURCE(web);
}

namespace kestra::web {

using api::HttpRequest;
using api::HttpResponse;

namespace {

HttpResponse redirect(const QByteArray& to)
{
    HttpResponse r{303, {}, "text/plain"};
    r.headers.append({"Location", to});
    return r;
}

auth::Request guardRequest(const HttpRequest& h)
{
    return {QString::fromLatin1(h.method), QString::fromLatin1(h.host),    QString::fromLatin1(h.origin),
            QString::fromLatin1(h.authorization), QString::fromLatin1(h.cookies), QString::fromLatin1(h.csrf)};
}

// The page loads nothing from elsewhere, runs no inline script but its own and is framed by nobody.
QByteArray policy(const QByteArray& styles, const QByteArray& scripts)
{
    return "default-src 'self'; img-src 'self' data:; style-src " + styles + "; script-src " + scripts +
           "; frame-ancestors 'none'; form-action 'self'; base-uri 'none'";
}

const QByteArray kPageHeaders[][2] = {
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    // No address of the switch (a login link's code) leaves in a Referer. Not "no-referrer":
    // a form would then send "Origin: null", which cannot be told from a forged one.
    {"Referrer-Policy", "same-origin"},
};

const QByteArray kStyleLink = "<link rel=\"stylesheet\" href=\"style.css\">";
const QByteArray kFirstState = "<script type=\"application/json\" id=\"first-state\"></script>";

const QByteArray kScriptTag = "<script src=\"app.js\" defer></script>";

QByteArray hashSource(const QByteArray& text)
{
    return "'sha256-" + QCryptographicHash::hash(text, QCryptographicHash::Sha256).toBase64() + "'";
}

} // namespace

bool inlinePage(QByteArray& page, QByteArray& csp, const QByteArray& style, const QByteArray& script)
{
    // Text that would end its element early, or make the parser look for one, stays in its own file.
    const QByteArray css = style.toLower(), js = script.toLower();
    if (page.count(kStyleLink) != 1 || page.count(kScriptTag) != 1 || css.contains("</style") ||
        css.contains("<!--") || js.contains("</script") || js.contains("<!--"))
        return false;
    page.replace(kStyleLink, "<style>" + style + "</style>");
    page.replace(kScriptTag, "<script>" + script + "</script>");
    csp = policy(hashSource(style), hashSource(script));
    return true;
}

QByteArray withFirstState(const QByteArray& page, const QJsonObject& state)
{
    if (page.count(kFirstState) != 1) return page;
    // '<' only occurs inside JSON strings, where \u003c reads the same.
    QByteArray json = QJsonDocument(state).toJson(QJsonDocument::Compact);
    json.replace('<', "\\u003c");
    QByteArray out = page;
    out.replace(kFirstState, "<script type=\"application/json\" id=\"first-state\">" + json + "</script>");
    return out;
}

QString formValue(const QByteArray& body, const QString& name)
{
    // '+' is a blank in forms; QUrlQuery leaves it alone.
    QByteArray b = body;
    b.replace('+', ' ');
    return QUrlQuery(QString::fromLatin1(b)).queryItemValue(name, QUrl::FullyDecoded);
}

Gate::Gate(const BuildConfig& build, const Clock& clock, const Listening& listening)
    : m_build(build), m_listening(listening), m_sessions(clock), m_throttle(clock)
{
    const std::pair<const char*, const char*> files[] = {
        {"index.html", "text/html; charset=utf-8"},          {"app.js", "text/javascript; charset=utf-8"},
        {"style.css", "text/css; charset=utf-8"},            {"login.html", "text/html; charset=utf-8"},
        {"login.js", "text/javascript; charset=utf-8"},
    };
    registerPage();
    // Read once here: the server's threads only read the copies.
    for (const auto& [name, type] : files) {
        QFile f(QStringLiteral(":/web/") + QLatin1String(name));
        if (f.open(QIODevice::ReadOnly))
            m_files.insert(name, File{f.readAll(), type, policy("'self'", "'self'")});
    }
    // The page comes in one answer, its style sheet and script inline: the browser asks for nothing more
    // before it opens the event stream.
    if (const auto page = m_files.find("index.html"); page != m_files.end())
        inlinePage(page->body, page->policy, m_files.value("style.css").body, m_files.value("app.js").body);
}

void Gate::setEndpoint(const QByteArray& token, quint16 port, quint16 networkPort, const QStringList& names)
{
    std::lock_guard lock(m_mutex);
    m_guard = std::make_unique<auth::Guard>(m_sessions, QString::fromLatin1(token), port, names);
    m_networkPort = networkPort;
    if (networkPort)
        m_networkGuard = std::make_unique<auth::Guard>(m_sessions, QString::fromLatin1(token), networkPort, names);
}

auth::Guard& Gate::guardOf(const HttpRequest& r) const
{
    return m_networkGuard && r.serverPort == m_networkPort ? *m_networkGuard : *m_guard;
}

bool Gate::allows(const QByteArray&) const
{
    return false; // admit() decides
}

int Gate::sessionCount() const
{
    std::lock_guard lock(m_mutex);
    return m_sessions.count();
}

std::optional<HttpResponse> Gate::file(const QByteArray& name) const
{
    const auto it = m_files.constFind(name);
    if (it == m_files.cend()) return api::refusalAnswer(404, QStringLiteral("the page's file %1 is missing").arg(QLatin1String(name)));
    HttpResponse r{200, it->body, it->type};
    r.headers.append({"Content-Security-Policy", it->policy});
    for (const auto& h : kPageHeaders)
        r.headers.append({h[0], h[1]});
    return r;
}

HttpResponse Gate::withSession(HttpResponse r, const auth::Session& s, bool tls) const
{
    r.headers.append({"Set-Cookie", auth::sessionCookie(s.id, tls).toLatin1()});
    return r;
}

std::optional<HttpResponse> Gate::admit(HttpRequest& h) const
{
    const bool get = h.method == "GET" || h.method == "HEAD";
    // Every browser names the host it asked for; a client that names none (HTTP/1.0)
    // is no page of another name, and is taken as asking for 127.0.0.1.
    if (h.host.isEmpty()) h.host = "127.0.0.1";
    std::unique_lock lock(m_mutex);
    if (!m_guard) return api::refusalAnswer(503, QStringLiteral("the switch is starting"));
    // Every request names a host the switch answers to: a page of another name
    // cannot reach it through a DNS answer of its own.
    auth::Guard& guard = guardOf(h);
    if (!guard.knownHost(QString::fromLatin1(h.host)))
        return api::refusalAnswer(403, QStringLiteral("This switch does not answer to the host \"%1\".")
                                .arg(QString::fromLatin1(h.host.left(100))));

    if (get && (h.path == "/login.js" || h.path == "/style.css")) return file(h.path.mid(1));
    if (h.path == "/login") {
        if (!get) return std::nullopt; // the password comes in the body: answerHere()
        const QByteArray code = h.query.value("code");
        if (code.isEmpty()) return file("login.html");
        if (!m_sessions.redeemCode(QString::fromLatin1(code))) return redirect("/login?why=code");
        return withSession(redirect("/"), m_sessions.open(), h.tls);
    }

    const auth::Decision d = guard.check(guardRequest(h));
    if (h.path == "/" || h.path == "/index.html" || h.path == "/app.js") {
        if (!get) return api::refusalAnswer(405, QStringLiteral("the page is read with GET"));
        if (d.caller != auth::Caller::Browser) return redirect("/login");
        if (h.path == "/app.js") return file("app.js");
        // The page comes with the switch's state, which only the switch's thread may read: pageWithState().
        h.browser = true;
        return std::nullopt;
    }
    if (!d.allowed() && d.status == 401 && h.authorization.isEmpty())
        return api::refusalAnswer(401, QStringLiteral("a request must carry the switch's token (Authorization: Bearer <token>), "
                                           "or a browser its session: log in first"));
    if (!d.allowed()) return api::refusalAnswer(d.status, d.reason);
    h.browser = d.caller == auth::Caller::Browser;
    if (d.session) h.session = d.session->id.toLatin1();

    if (h.path == "/logout") {
        if (h.method != "POST") return api::refusalAnswer(405, QStringLiteral("log out with POST"));
        if (d.session) m_sessions.close(d.session->id);
        lock.unlock();
        sessionsEnded();
        HttpResponse r = api::jsonAnswer(200, {{QStringLiteral("ok"), true}});
        r.headers.append({"Set-Cookie", auth::clearedSessionCookie(h.tls).toLatin1()});
        return r;
    }
    if (h.path == "/api/web/session") {
        if (!d.session) return api::refusalAnswer(400, QStringLiteral("a session is a browser's"));
        lock.unlock();
        return api::jsonAnswer(200, sessionFacts(*d.session, h.tls));
    }
    if (h.path == "/api/web/code") {
        if (h.method != "POST") return api::refusalAnswer(405, QStringLiteral("a login code is asked for with POST"));
        // Only a local client proves it is the switch's user: a browser cannot hand out links.
        if (d.caller != auth::Caller::LocalClient)
            return api::refusalAnswer(403, QStringLiteral("login links are handed out to the switch's user only"));
        return api::jsonAnswer(200, {{QStringLiteral("ok"), true}, {QStringLiteral("code"), m_sessions.issueCode()}});
    }
    return std::nullopt;
}

std::optional<HttpResponse> Gate::answerHere(const HttpRequest& r) const
{
    if (r.path == "/login") return login(r);
    if (r.path == "/api/web/password") return setPassword(r);
    return std::nullopt;
}

HttpResponse Gate::login(const HttpRequest& r) const
{
    if (r.method != "POST") return api::refusalAnswer(405, QStringLiteral("log in with POST"));
    const QString address = r.peer;
    {
        std::lock_guard lock(m_mutex);
        // A login form of another site: its answer would log the browser in as us.
        if (!r.origin.isEmpty() && !guardOf(r).knownHost(QUrl(QString::fromLatin1(r.origin)).authority()))
            return api::refusalAnswer(403, QStringLiteral("A request from another site was refused."));
        if (m_throttle.waitFor(address) > 0) return redirect("/login?why=slow");
    }
    const QString hash = readWebSettings(m_build).passwordHash;
    if (hash.isEmpty()) return redirect("/login?why=none");
    const QString password = formValue(r.body, QStringLiteral("password"));

    std::lock_guard hashing(m_hashing);
    {
        // Attempts that waited for the hash of others are counted as they end.
        std::lock_guard lock(m_mutex);
        if (m_throttle.waitFor(address) > 0) return redirect("/login?why=slow");
    }
    const bool right = auth::checkPassword(password, hash);
    std::lock_guard lock(m_mutex);
    if (!right) {
        m_throttle.failed(address);
        return redirect("/login?why=wrong");
    }
    m_throttle.succeeded(address);
    return withSession(redirect("/"), m_sessions.open(), r.tls);
}

HttpResponse Gate::setPassword(const HttpRequest& r) const
{
    if (r.method != "POST") return api::refusalAnswer(405, QStringLiteral("a password is set with POST"));
    const QString password =
        QJsonDocument::fromJson(r.body).object().value(QStringLiteral("password")).toString();
    if (const QString problem = auth::passwordProblem(password); !problem.isEmpty()) return api::refusalAnswer(422, problem);
    QString hash;
    try {
        std::lock_guard hashing(m_hashing);
        hash = auth::hashPassword(password);
    } catch (const Failure& f) {
        return api::refusalAnswer(500, f.description);
    }
    if (const QString problem = storePasswordHash(m_build, hash); !problem.isEmpty()) return api::refusalAnswer(500, problem);
    HttpResponse ok = api::jsonAnswer(200, {{QStringLiteral("ok"), true}});
    {
        std::lock_guard lock(m_mutex);
        // Whoever knew the old password is out, their open pages included; the browser that set it stays in.
        m_sessions.closeAll();
        if (r.browser) ok = withSession(ok, m_sessions.open(), r.tls);
    }
    sessionsEnded();
    return ok;
}

QJsonObject Gate::sessionFacts(const auth::Session& s, bool tls) const
{
    const bool passwordSet = !readWebSettings(m_build).passwordHash.isEmpty();
    return {{QStringLiteral("csrf"), s.csrf},
            {QStringLiteral("passwordSet"), passwordSet},
            {QStringLiteral("tls"), tls},
            {QStringLiteral("warning"), m_listening.warning}};
}

std::optional<HttpResponse> Gate::whenBusy(const HttpRequest& r) const
{
    // The page's script asks for the state itself.
    if (r.browser && (r.path == "/" || r.path == "/index.html")) return file("index.html");
    return std::nullopt;
}

HttpResponse Gate::pageWithState(const QJsonObject& state) const
{
    HttpResponse r = *file("index.html");
    r.body = withFirstState(r.body, state);
    return r;
}

QByteArray Gate::streamOpening(const HttpRequest& r) const
{
    if (!r.browser || r.session.isEmpty()) return {};
    std::optional<auth::Session> session;
    {
        std::lock_guard lock(m_mutex);
        session = m_sessions.find(QString::fromLatin1(r.session));
    }
    if (!session) return {};
    QJsonObject facts = sessionFacts(*session, r.tls);
    facts.insert(QStringLiteral("api"), api::kVersion);
    return "event: session\ndata: " + QJsonDocument(facts).toJson(QJsonDocument::Compact) + "\n\n";
}

bool Gate::stillAdmits(const QByteArray& session) const
{
    std::lock_guard lock(m_mutex);
    return m_sessions.isAlive(QString::fromLatin1(session));
}

void Gate::whenSessionsEnd(std::function<void()> ended) const
{
    std::lock_guard lock(m_mutex);
    m_sessionsEnded = std::move(ended);
}

void Gate::sessionsEnded() const
{
    std::function<void()> tell;
    {
        std::lock_guard lock(m_mutex);
        tell = m_sessionsEnded;
    }
    if (tell) tell();
}

} // namespace kestra::web
