#include "logic/auth/guard.h"

#include "logic/auth/password.h"

#include <QUrl>

namespace kestra::auth {

bool changesState(const QString& method)
{
    return method != QLatin1String("GET") && method != QLatin1String("HEAD") &&
           method != QLatin1String("OPTIONS");
}

Guard::Guard(Sessions& sessions, QString apiToken, int port, QStringList names)
    : m_sessions(sessions), m_token(std::move(apiToken)), m_port(port), m_names(std::move(names))
{
    m_names << QStringLiteral("127.0.0.1") << QStringLiteral("localhost") << QStringLiteral("[::1]");
    for (QString& n : m_names)
        n = n.toLower();
}

bool Guard::knownHost(const QString& host) const
{
    // "name" or "name:port"; an IPv6 address in brackets.
    const QUrl url(QStringLiteral("http://") + host);
    if (!url.isValid() || !url.userInfo().isEmpty() || !url.path().isEmpty()) return false;
    if (url.port() != -1 && url.port() != m_port) return false;
    QString name = url.host().toLower();
    if (name.contains(QLatin1Char(':'))) name = QLatin1Char('[') + name + QLatin1Char(']');
    return m_names.contains(name);
}

Decision Guard::check(const Request& r)
{
    const auto refuse = [](int status, const QString& why) {
        return Decision{Caller::Refused, status, why, {}};
    };
    if (!knownHost(r.host))
        return refuse(
            403, QStringLiteral("This switch does not answer to the host \"%1\".").arg(r.host.left(100)));

    if (r.authorization.startsWith(QLatin1String("Bearer "))) {
        if (!m_token.isEmpty() && sameSecret(r.authorization.mid(7).trimmed(), m_token))
            return Decision{Caller::LocalClient, 0, {}, {}};
        return refuse(401, QStringLiteral("The token is not this switch's."));
    }

    const std::optional<Session> session = m_sessions.find(sessionIdFromCookies(r.cookies));
    if (!session) return refuse(401, QStringLiteral("Log in first."));
    if (changesState(r.method)) {
        // A browser sends Origin with every such request; another site's page cannot
        // read the session's token, so it cannot send it.
        if (!r.origin.isEmpty() && !knownHost(QUrl(r.origin).authority()))
            return refuse(403, QStringLiteral("A request from another site was refused."));
        if (!sameSecret(r.csrf, session->csrf))
            return refuse(403, QStringLiteral("The request lacks the page's token; load the page again."));
    }
    return Decision{Caller::Browser, 0, {}, session};
}

} // namespace kestra::auth
