#pragma once

#include "base/clock.h"

#include <QHash>
#include <QString>
#include <chrono>
#include <optional>

namespace kestra::auth {

// A browser that proved who it is: the id its cookie carries and the token it
// must send with every request that changes something (cross-site forgery).
struct Session
{
    QString id;
    QString csrf;
    qint64 createdMs = 0;
    qint64 lastSeenMs = 0;
};

// The sessions of the web page and the one-time login codes that `ctl web`
// hands out. Kept in memory only: a restart of the service logs everyone out.
class Sessions
{
public:
    static constexpr std::chrono::hours kIdle{12};
    static constexpr std::chrono::hours kLongest{24 * 7};
    static constexpr std::chrono::minutes kCodeValid{2};
    static constexpr int kMaxSessions = 64;
    static constexpr int kMaxCodes = 16;

    explicit Sessions(const Clock& clock) : m_clock(clock) {}

    // A new session; the oldest goes when there are too many.
    Session open();
    // The session with cookie value `id`, seen now; none when unknown or expired.
    std::optional<Session> find(const QString& id);
    void close(const QString& id);
    // Whether the session is open and not expired, without counting as its use.
    bool isAlive(const QString& id) const;
    // A new password ends every session.
    void closeAll() { m_sessions.clear(); }
    int count() const { return int(m_sessions.size()); }
    // Seconds a session cookie may live.
    static qint64 cookieMaxAge() { return std::chrono::seconds(kLongest).count(); }

    // A code for a login link: good once, for kCodeValid.
    QString issueCode();
    // Whether `code` was issued, is still valid and unused; it is used up either way.
    bool redeemCode(const QString& code);

private:
    bool expired(const Session& s, qint64 now) const;

    const Clock& m_clock;
    QHash<QString, Session> m_sessions;
    QHash<QString, qint64> m_codes; // code -> issued at
};

// The Set-Cookie value of a session; `secure` under TLS.
QString sessionCookie(const QString& id, bool secure);
// The Set-Cookie value that removes it.
QString clearedSessionCookie(bool secure);
// The session id in a Cookie header; empty when there is none.
QString sessionIdFromCookies(const QString& cookieHeader);

inline const QString kSessionCookieName = QStringLiteral("kestra_session");

} // namespace kestra::auth
