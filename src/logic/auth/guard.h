#pragma once

#include "logic/auth/sessions.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace kestra::auth {

// What the guard needs to know of one request to the API.
struct Request
{
    QString method;        // "GET", "POST", ...
    QString host;          // the Host header
    QString origin;        // the Origin header; empty when the browser sent none
    QString authorization; // the Authorization header
    QString cookies;       // the Cookie header
    QString csrf;          // the X-Kestra-CSRF header
};

// Who is asking, once the guard let a request through.
enum class Caller { Refused, LocalClient, Browser };

struct Decision
{
    Caller caller = Caller::Refused;
    int status = 0;                 // HTTP status of a refusal
    QString reason;                 // its text
    std::optional<Session> session; // the browser's session
    bool allowed() const { return caller != Caller::Refused; }
};

// Decides who may use the API. Local clients (the windows, `ctl`, scripts)
// carry the token of the runtime file; browsers carry a session cookie and,
// for every request that changes something, the session's token against
// cross-site forgery. Every request must name a host the switch answers to,
// so that a web page of another name cannot reach it through its own DNS.
class Guard
{
public:
    // `names`: host names the switch answers to besides the loopback ones.
    Guard(Sessions& sessions, QString apiToken, int port, QStringList names = {});

    Decision check(const Request& r);
    // Whether `host` (a Host header) is one the switch answers to.
    bool knownHost(const QString& host) const;

private:
    Sessions& m_sessions;
    QString m_token;
    int m_port;
    QStringList m_names;
};

// Whether a request with `method` changes something.
bool changesState(const QString& method);

} // namespace kestra::auth
