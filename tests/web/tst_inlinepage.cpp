#include "service/web/gate.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace kestra::web;

// The page's style sheet and script go into it only where the browser reads
// them whole; otherwise the page keeps its links and the plain policy.
class TstInlinePage : public QObject
{
    Q_OBJECT
private slots:
    void inlinePage_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<bool>("inlined");

        QTest::newRow("plain") << QByteArray("const a = 1 < 2;") << true;
        QTest::newRow("ends its element") << QByteArray("say('</SCRIPT><img src=x>');") << false;
        QTest::newRow("starts a comment") << QByteArray("say('<!--');") << false;
    }
    void inlinePage()
    {
        QFETCH(QByteArray, script);
        QFETCH(bool, inlined);
        const QByteArray page = "<head><link rel=\"stylesheet\" href=\"style.css\">\n"
                                "<script src=\"app.js\" defer></script></head><body></body>";
        const QByteArray style = "p { color: red; }";
        QByteArray out = page, csp = "unchanged";
        QCOMPARE(kestra::web::inlinePage(out, csp, style, script), inlined);
        if (!inlined) {
            QCOMPARE(out, page);
            QCOMPARE(csp, QByteArray("unchanged"));
            return;
        }
        QVERIFY(out.contains("<script>" + script + "</script>"));
        QVERIFY(out.contains("<style>" + style + "</style>"));
        QVERIFY(!out.contains("src=") && !out.contains("href="));
        const auto hash = [](const QByteArray& t) {
            return "'sha256-" + QCryptographicHash::hash(t, QCryptographicHash::Sha256).toBase64() + "'";
        };
        QVERIFY(csp.contains("script-src " + hash(script) + ";"));
        QVERIFY(csp.contains("style-src " + hash(style) + ";"));
        QVERIFY(!csp.contains("unsafe"));
    }

    // The state written into the page stays data, whatever a location holds, and reads back the same.
    void firstState()
    {
        const QByteArray page = "<body><script type=\"application/json\" id=\"first-state\"></script><p>";
        const QString location = QStringLiteral("</SCRIPT><script>alert(1)</script><!-- <img src=x>");
        const QByteArray out = withFirstState(page, {{QStringLiteral("location"), location}});
        QCOMPARE(out.count("<"), page.count("<"));
        const qsizetype from = out.indexOf('>', out.indexOf("first-state")) + 1;
        const QByteArray json = out.mid(from, out.indexOf("</script>") - from);
        QCOMPARE(QJsonDocument::fromJson(json).object().value(QStringLiteral("location")).toString(),
                 location);
    }
};

QTEST_GUILESS_MAIN(TstInlinePage)
#include "tst_inlinepage.moc"
