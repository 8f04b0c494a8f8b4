#include "logic/web/websettings.h"

#include <QTemporaryDir>
#include <QTest>

using namespace kestra::web;

// Where the page is offered, from the placement file's settings: never on the
// network without a password, never with TLS that cannot be read, and always
// with a warning when the network gets it in the clear.
class TstListening : public QObject
{
    Q_OBJECT
private slots:
    void decide_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("password");
        QTest::addColumn<QString>("certificate"); // "good", "missing" or none
        QTest::addColumn<QString>("offeredOn");   // empty: the loopback's API server only
        QTest::addColumn<bool>("refused");
        QTest::addColumn<bool>("warned");

        QTest::newRow("default") << "127.0.0.1" << false << "" << "" << false << false;
        QTest::newRow("network without password") << "0.0.0.0" << false << "" << "" << true << false;
        QTest::newRow("network with password, clear") << "0.0.0.0" << true << "" << "0.0.0.0" << false << true;
        QTest::newRow("network with password, TLS") << "0.0.0.0" << true << "good" << "0.0.0.0" << false << false;
        QTest::newRow("network, unreadable TLS") << "0.0.0.0" << true << "missing" << "" << true << false;
        QTest::newRow("loopback with TLS") << "127.0.0.1" << false << "good" << "127.0.0.1" << false << false;
        QTest::newRow("no address") << "switch.home.arpa" << true << "" << "" << true << false;
    }
    void decide()
    {
        QFETCH(QString, address);
        QFETCH(bool, password);
        QFETCH(QString, certificate);
        QFETCH(QString, offeredOn);
        QFETCH(bool, refused);
        QFETCH(bool, warned);

        QTemporaryDir dir;
        WebSettings s;
        s.address = address;
        if (password) s.passwordHash = QStringLiteral("$y$j9T$salt$hash");
        if (!certificate.isEmpty()) {
            s.certificate = dir.filePath(QStringLiteral("cert.pem"));
            s.key = dir.filePath(QStringLiteral("key.pem"));
            if (certificate == QLatin1String("good"))
                for (const QString& f : {s.certificate, s.key}) {
                    QFile pem(f);
                    QVERIFY(pem.open(QIODevice::WriteOnly));
                    pem.write("-----BEGIN SOMETHING-----\n-----END SOMETHING-----\n");
                }
        }
        const Listening l = decideListening(s, 40956);
        QCOMPARE(l.offered() ? l.address : QString(), offeredOn);
        QCOMPARE(!l.refusal.isEmpty(), refused);
        QCOMPARE(!l.warning.isEmpty(), warned);
        QCOMPARE(l.port, quint16(40957));
    }
};

QTEST_GUILESS_MAIN(TstListening)
#include "tst_listening.moc"
