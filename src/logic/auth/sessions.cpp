#include "logic/auth/sessions.h"

#include "logic/auth/password.h"

#include <algorithm>

namespace kestra::auth {

namespace {
qint64 ms(std::chrono::milliseconds d)
{
    return d.count();
}
} // namespace

bool Sessions::expired(const Session& s, qint64 now) const
{
    return now - s.lastSeenMs > ms(kIdle) || now - s.createdMs > ms(kLongest) || now < s.createdMs;
}

Session Sessions::open()
{
    const qint64 now = m_clock.msecsSinceEpoch();
    if (m_sessions.size() >= kMaxSessions) {
        const auto oldest =
            std::min_element(m_sessions.cbegin(), m_sessions.cend(),
                             [](const Session& a, const Session& b) { return a.lastSeenMs < b.lastSeenMs; });
        m_sessions.erase(oldest);
    }
    Session s{randomToken(), randomToken(), now, now};
    m_sessions.insert(s.id, s);
    return s;
}

std::optional<Session> Sessions::find(const QString& id)
{
    const auto it = m_sessions.find(id);
    if (id.isEmpty() || it == m_sessions.end()) return std::nullopt;
    const qint64 now = m_clock.msecsSinceEpoch();
    if (expired(*it, now)) {
        m_sessions.erase(it);
        return std::nullopt;
    }
    it->lastSeenMs = now;
    return *it;
}

bool Sessions::isAlive(const QString& id) const
{
    const auto it = m_sessions.constFind(id);
    return !id.isEmpty() && it != m_sessions.cend() && !expired(*it, m_clock.msecsSinceEpoch());
}

void Sessions::close(const QString& id)
{
    m_sessions.remove(id);
}

QString Sessions::issueCode()
{
    const qint64 now = m_clock.msecsSinceEpoch();
    for (auto it = m_codes.begin(); it != m_codes.end();)
        it = now - it.value() > ms(kCodeValid) ? m_codes.erase(it) : std::next(it);
    while (m_codes.size() >= kMaxCodes)
        m_codes.erase(std::min_element(m_codes.begin(), m_codes.end()));
    const QString code = randomToken();
    m_codes.insert(code, now);
    return code;
}

bool Sessions::redeemCode(const QString& code)
{
    const auto it = m_codes.find(code);
    if (code.isEmpty() || it == m_codes.end()) return false;
    const qint64 age = m_clock.msecsSinceEpoch() - it.value();
    m_codes.erase(it);
    return age >= 0 && age <= ms(kCodeValid);
}

QString sessionCookie(const QString& id, bool secure)
{
    return QStringLiteral("%1=%2; Path=/; HttpOnly; SameSite=Strict; Max-Age=%3%4")
        .arg(kSessionCookieName, id)
        .arg(Sessions::cookieMaxAge())
        .arg(secure ? QStringLiteral("; Secure") : QString());
}

QString clearedSessionCookie(bool secure)
{
    return QStringLiteral("%1=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0%2")
        .arg(kSessionCookieName, secure ? QStringLiteral("; Secure") : QString());
}

QString sessionIdFromCookies(const QString& cookieHeader)
{
    for (const QString& part : cookieHeader.split(QLatin1Char(';'))) {
        const QString c = part.trimmed();
        if (c.startsWith(kSessionCookieName + QLatin1Char('='))) return c.mid(kSessionCookieName.size() + 1);
    }
    return {};
}

} // namespace kestra::auth
