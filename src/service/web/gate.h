#pragma once

#include "base/buildconfig.h"
#include "base/clock.h"
#include "logic/auth/guard.h"
#include "logic/auth/sessions.h"
#include "logic/auth/throttle.h"
#include "logic/web/websettings.h"
#include "service/api/httpserver.h"

#include <QHash>
#include <QJsonObject>
#include <memory>
#include <mutex>

namespace kestra::web {

// The door of the switch's HTTP server: who may pass, and what is answered
// before the switch is asked at all (the page's files, logging in and out,
// the password, the login links). Called on the server's threads, never on the
// switch's: a slow password hash or a flood of logins does not delay a tick.
//
//   GET  /, /app.js            the page; without a session the login page
//   GET  /login, /login.js, /style.css    for everyone who names a known host
//   GET  /login?code=...       a one-time link of `kestra3 ctl web`: a session
//   POST /login                password=...: a session
//   POST /logout               the session ends
//   GET  /api/web/session      the page's token against forgery, and warnings
//   POST /api/web/code         (the token only) a one-time login code
//   POST /api/web/password     {"password": "..."}: a new password; every other session ends
class Gate final : public api::Authentication
{
public:
    Gate(const BuildConfig& build, const Clock& clock, const Listening& listening);

    // Once the servers listen: the API's token, and the ports a host name may carry
    // (127.0.0.1's, and the second server's; 0: none).
    void setEndpoint(const QByteArray& token, quint16 port, quint16 networkPort, const QStringList& names);

    bool allows(const QByteArray& authorization) const override;
    std::optional<api::HttpResponse> admit(api::HttpRequest& head) const override;
    std::optional<api::HttpResponse> answerHere(const api::HttpRequest& request) const override;
    bool stillAdmits(const QByteArray& session) const override;
    // A browser's stream tells the page its session (event `session`) after the state: one call fewer.
    QByteArray streamOpening(const api::HttpRequest& request) const override;
    // The page without the state, when the switch cannot write it in now.
    std::optional<api::HttpResponse> whenBusy(const api::HttpRequest& request) const override;

    // Main thread: the page with the switch's state as it is now, drawn before its event stream answers.
    api::HttpResponse pageWithState(const QJsonObject& state) const;
    void whenSessionsEnd(std::function<void()> ended) const override;

    int sessionCount() const;

private:
    struct File
    {
        QByteArray body;
        QByteArray type;
        QByteArray policy; // Content-Security-Policy
    };
    std::optional<api::HttpResponse> file(const QByteArray& name) const;
    api::HttpResponse login(const api::HttpRequest& r) const;
    api::HttpResponse setPassword(const api::HttpRequest& r) const;
    // Tells the servers that sessions ended; called without m_mutex held.
    void sessionsEnded() const;
    api::HttpResponse withSession(api::HttpResponse r, const auth::Session& s, bool tls) const;
    // What the page learns of its session: the token against forgery, whether a password is set, the warning.
    QJsonObject sessionFacts(const auth::Session& s, bool tls) const;
    auth::Guard& guardOf(const api::HttpRequest& r) const;

    const BuildConfig& m_build;
    Listening m_listening;
    QHash<QByteArray, File> m_files;

    mutable std::mutex m_mutex; // guards what follows
    mutable auth::Sessions m_sessions;
    mutable auth::LoginThrottle m_throttle;
    mutable std::unique_ptr<auth::Guard> m_guard;        // of the requests to 127.0.0.1
    mutable std::unique_ptr<auth::Guard> m_networkGuard; // of those to the second server
    quint16 m_networkPort = 0;
    mutable std::function<void()> m_sessionsEnded;
    // One password hash at a time: a flood of logins costs one core at most.
    mutable std::mutex m_hashing;
};

// The page's style sheet and script put into it in place of their links, each allowed
// by its hash in `csp`; false (and nothing changed) when they cannot be.
bool inlinePage(QByteArray& page, QByteArray& csp, const QByteArray& style, const QByteArray& script);

// `page` with `state` in its data block "first-state", written so that no text of the state (a location)
// can end the block; `page` as it is when it has no such block.
QByteArray withFirstState(const QByteArray& page, const QJsonObject& state);

// The value of `name` in a form body (application/x-www-form-urlencoded).
QString formValue(const QByteArray& body, const QString& name);

} // namespace kestra::web
