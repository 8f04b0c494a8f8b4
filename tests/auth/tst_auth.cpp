#include "base/failure.h"
#include "logic/auth/guard.h"
#include "logic/auth/password.h"
#include "logic/auth/sessions.h"
#include "logic/auth/throttle.h"

#include <QTest>

using namespace kestra;
using namespace kestra::auth;

namespace {
const QDateTime kStart(QDate(2024, 1, 1), QTime(12, 0), Qt::UTC);
constexpr int kPort = 38303;
} // namespace

class TstAuth : public QObject
{
    Q_OBJECT
private slots:
    void passwordsAreStoredHashedAndChecked()
    {
        const QString hash = hashPassword(QStringLiteral("correct horse"));
        QVERIFY(hash.startsWith(QStringLiteral("$y$")));
        QVERIFY(!hash.contains(QStringLiteral("correct")));
        QVERIFY(hash != hashPassword(QStringLiteral("correct horse"))); // salted
        QVERIFY(checkPassword(QStringLiteral("correct horse"), hash));
        QVERIFY(!checkPassword(QStringLiteral("correct hors"), hash));
        QVERIFY(!checkPassword(QStringLiteral("correct horse"), QString()));
        QVERIFY(!checkPassword(QStringLiteral("correct horse"), QStringLiteral("$y$damaged")));
        for (const QString& bad :
             {QStringLiteral("short"), QString(300, QLatin1Char('x')), QStringLiteral("tab\there!")})
            QVERIFY_THROWS_EXCEPTION(Failure, hashPassword(bad));
    }

    // The rules of who may steer the switch, as one table of requests and answers.
    void requestsAndAnswers_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("origin");
        QTest::addColumn<QString>("authorization");
        QTest::addColumn<bool>("withSession");
        QTest::addColumn<QString>("csrf"); // "good": the session's own
        QTest::addColumn<int>("status");   // 0: let through
        const QString token = QStringLiteral("Bearer the-token");
        const QString host = QStringLiteral("127.0.0.1:38303");
        const QString page = QStringLiteral("http://127.0.0.1:38303");
        QTest::newRow("local client with the token") << "POST" << host << "" << token << false << "" << 0;
        QTest::newRow("local client, wrong token") << "GET" << host << ""
                                                   << "Bearer guess" << false << "" << 401;
        QTest::newRow("nothing at all") << "GET" << host << ""
                                        << "" << false << "" << 401;
        QTest::newRow("browser reads") << "GET" << host << ""
                                       << "" << true << "" << 0;
        QTest::newRow("browser changes, with its token")
            << "POST" << host << page << "" << true << "good" << 0;
        QTest::newRow("browser changes, no token") << "POST" << host << page << "" << true << "" << 403;
        QTest::newRow("another site's form") << "POST" << host << "http://evil.example"
                                             << "" << true << "good" << 403;
        QTest::newRow("DNS rebinding") << "GET"
                                       << "evil.example:38303"
                                       << "" << token << false << "" << 403;
        QTest::newRow("the configured name") << "GET"
                                             << "kestra.lan:38303"
                                             << "" << token << false << "" << 0;
        QTest::newRow("another port") << "GET"
                                      << "127.0.0.1:80"
                                      << "" << token << false << "" << 403;
        QTest::newRow("IPv6 loopback") << "GET"
                                       << "[::1]:38303"
                                       << "" << token << false << "" << 0;
        QTest::newRow("host with user info") << "GET"
                                             << "a@127.0.0.1:38303"
                                             << "" << token << false << "" << 403;
        QTest::newRow("no host") << "GET"
                                 << ""
                                 << "" << token << false << "" << 403;
    }
    void requestsAndAnswers()
    {
        QFETCH(QString, method);
        QFETCH(QString, host);
        QFETCH(QString, origin);
        QFETCH(QString, authorization);
        QFETCH(bool, withSession);
        QFETCH(QString, csrf);
        QFETCH(int, status);
        FakeClock clock(kStart);
        Sessions sessions(clock);
        Guard guard(sessions, QStringLiteral("the-token"), kPort, {QStringLiteral("kestra.lan")});
        Request r{method, host, origin, authorization, {}, csrf};
        if (withSession) {
            const Session s = sessions.open();
            r.cookies = QStringLiteral("theme=dark; %1=%2").arg(kSessionCookieName, s.id);
            if (csrf == QLatin1String("good")) r.csrf = s.csrf;
        }
        const Decision d = guard.check(r);
        QCOMPARE(d.status, status);
        QCOMPARE(d.allowed(), status == 0);
        if (status) QVERIFY(!d.reason.isEmpty());
    }

    void sessionsAndLoginCodesExpire()
    {
        FakeClock clock(kStart);
        Sessions sessions(clock);
        const Session s = sessions.open();
        clock.advanceSeconds(11 * 3600);
        QVERIFY(sessions.find(s.id)); // in use: the idle time starts again
        clock.advanceSeconds(11 * 3600);
        QVERIFY(sessions.find(s.id));
        clock.advanceSeconds(13 * 3600);
        QVERIFY(!sessions.find(s.id));

        const QString code = sessions.issueCode();
        QVERIFY(sessions.redeemCode(code));
        QVERIFY(!sessions.redeemCode(code)); // once only
        const QString late = sessions.issueCode();
        clock.advanceSeconds(121);
        QVERIFY(!sessions.redeemCode(late));

        const QString cookie = sessionCookie(s.id, true);
        for (const char* part : {"HttpOnly", "SameSite=Strict", "Secure", "Path=/"})
            QVERIFY2(cookie.contains(QLatin1String(part)), part);
        QVERIFY(!sessionCookie(s.id, false).contains(QStringLiteral("Secure")));
    }

    // 1,000 wrong passwords from one address: a few a minute are even looked at,
    // and the right one still works once the minute has passed.
    void guessingIsSlowedDown()
    {
        FakeClock clock(kStart);
        LoginThrottle throttle(clock);
        const QString guesser = QStringLiteral("192.0.2.7");
        int looked = 0;
        for (int i = 0; i < 1000; ++i) {
            if (throttle.waitFor(guesser) == 0) {
                ++looked;
                throttle.failed(guesser);
            }
            clock.advanceMs(10);
        }
        QCOMPARE(looked, LoginThrottle::kPerAddress);
        QCOMPARE(throttle.waitFor(QStringLiteral("192.0.2.8")), 0); // another address is not held up
        clock.advanceSeconds(60);
        QCOMPARE(throttle.waitFor(guesser), 0);

        // Spread over many addresses, the guesser still meets the common budget.
        for (int i = 0; i < 100; ++i)
            if (throttle.waitFor(QStringLiteral("198.51.100.%1").arg(i)) == 0)
                throttle.failed(QStringLiteral("198.51.100.%1").arg(i));
        QVERIFY(throttle.waitFor(QStringLiteral("203.0.113.1")) > 0);
    }
};

QTEST_MAIN(TstAuth)
#include "tst_auth.moc"
