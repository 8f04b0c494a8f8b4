// The API of the running switch, in this process: what it refuses, a command
// reaching the port byte and the event stream, and a client that stops reading.

#include "api/api.h"
#include "api/client.h"
#include "api/endpoint.h"
#include "common/clock.h"
#include "model/errorroutine.h"
#include "model/switchmodel.h"
#include "port/bits.h"
#include "port/port.h"
#include "service/service.h"
#include "store/database.h"
#include "tests/support/testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

using namespace kestra;

namespace {

QJsonObject jsonOf(const QByteArray& body)
{
    return QJsonDocument::fromJson(body).object();
}

QByteArray command(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

class TestApi : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<store::Database> m_db;
    std::unique_ptr<port::Port> m_port;
    FakeClock m_clock{QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0))};
    std::unique_ptr<service::Service> m_service;

    api::Api& api() { return m_service->api(); }
    api::Client client(const QByteArray& token = {}) const
    {
        return api::Client(m_service->api().port(), token.isNull() ? m_service->api().token() : token);
    }
    quint8 outputsOnPort() const
    {
        QFile f(m_dir.filePath(QStringLiteral("port-3BC")));
        f.open(QIODevice::ReadOnly);
        return port::outputsOf(quint8(f.read(1).at(0)), false);
    }
    QString stored(const QString& field) const { return m_db->readSettings().value(field.toLower()); }

private slots:
    void initTestCase()
    {
        // Any free port: tests may run beside a switch of the user's.
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KESTRA3"))
            .setValue(QStringLiteral("Api/Port"), 0);
        m_db = store::Database::open(m_dir.filePath(QStringLiteral("Kestra3.db")), m_clock.now().date());
        m_db->writeSettings({{QStringLiteral("Start3a"), QStringLiteral("12:00:00")},
                             {QStringLiteral("Run3a"), QStringLiteral("00:30:00")},
                             {QStringLiteral("Auto3"), QStringLiteral("True")}});
        m_port = std::make_unique<port::Port>(0x3BC, test::simulatedPortEnvironment(m_dir));
        m_service =
            std::make_unique<service::Service>(model::Context{kestra3Config(), *m_port, *m_db, m_clock},
                                               m_dir.filePath(QStringLiteral("History3BC.db")));
        m_service->start();
        QTRY_VERIFY(api().isListening());
        // The endpoint file tells clients where and how, readable by this user only.
        const auto endpoint = api::readEndpoint(kestra3Config());
        QVERIFY(endpoint);
        QCOMPARE(endpoint->port, api().port());
        QCOMPARE(QFileInfo(api::endpointPath(kestra3Config())).permissions() & 0x0077, QFile::Permissions());
    }

    void cleanupTestCase()
    {
        m_service->stop();
        QVERIFY(!QFileInfo::exists(api::endpointPath(kestra3Config())));
        m_service.reset();
    }

    // Requests that are no command, or not allowed, change nothing and say why.
    void refusals_data()
    {
        QTest::addColumn<QByteArray>("request"); // TOKEN stands for the switch's token
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        const auto post = [](const QByteArray& body, const QByteArray& auth = "Bearer TOKEN") {
            return "POST /api/command HTTP/1.0\r\nAuthorization: " + auth +
                   "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        };
        const QByteArray mode3 = R"({"command":"mode","output":3,"mode":"ON"})";
        QTest::newRow("no token") << post(mode3, "") << 401 << "token";
        QTest::newRow("wrong token") << post(mode3, "Bearer 00") << 401 << "token";
        QTest::newRow("no token, reading") << QByteArray("GET /api/state HTTP/1.0\r\n\r\n") << 401 << "token";
        QTest::newRow("malformed JSON") << post(R"({"command":"mode",)") << 400 << "no JSON";
        QTest::newRow("not an object") << post("[1,2]") << 400 << "object";
        QTest::newRow("unknown command")
            << post(R"({"command":"explode","output":3})") << 400 << "unknown command";
        QTest::newRow("output 9") << post(R"({"command":"mode","output":9,"mode":"ON"})") << 400
                                  << "out of range";
        QTest::newRow("output 0") << post(R"({"command":"day","output":0,"day":1,"ticked":true})") << 400
                                  << "out of range";
        QTest::newRow("output 2.5") << post(R"({"command":"mode","output":2.5,"mode":"ON"})") << 400
                                    << "whole number";
        QTest::newRow("day 7") << post(R"({"command":"day","output":3,"day":7,"ticked":true})") << 400
                               << "out of range";
        QTest::newRow("mode word") << post(R"({"command":"mode","output":3,"mode":"MAYBE"})") << 400
                                   << "AUTO, ON or OFF";
        QTest::newRow("time index") << post(R"({"command":"time","output":3,"index":2,"text":"1:00"})") << 400
                                    << "out of range";
        QTest::newRow("pulse on output 3")
            << post(R"({"command":"pulseStart","output":3})") << 400 << "out of range";
        QTest::newRow("other version") << post(R"({"api":2,"command":"ok","output":3})") << 400 << "version";
        QTest::newRow("1 MB body") << post(QByteArray(1 << 20, ' ') + mode3) << 413 << "larger";
        QTest::newRow("command by GET")
            << QByteArray("GET /api/command HTTP/1.0\r\nAuthorization: Bearer TOKEN\r\n\r\n") << 405
            << "POST";
        QTest::newRow("no such call")
            << QByteArray("GET /api/nothing HTTP/1.0\r\nAuthorization: Bearer TOKEN\r\n\r\n") << 404
            << "no such call";
        // The switch's own refusal: the window's message with its number, the draft read again.
        QTest::newRow("a time that is none")
            << post(R"({"command":"time","output":3,"index":0,"text":"25:00:00"})") << 422
            << model::kTimeFormatMessage + "\nError Number: 13";
    }

    void refusals()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QFETCH(QString, says);
        const QHash<QString, QString> before = m_db->readSettings();
        const quint8 portBefore = outputsOnPort();
        const api::Reply r = client().raw(request.replace("TOKEN", api().token()));
        QCOMPARE(r.status, status);
        const QJsonObject o = jsonOf(r.body);
        QCOMPARE(o.value("api").toInt(), 1);
        QCOMPARE(o.value("ok").toBool(), false);
        QVERIFY2(o.value("error").toObject().value("text").toString().contains(says), r.body.constData());
        QCOMPARE(m_db->readSettings(), before);
        QCOMPARE(m_service->model().channel(3).time(0).text(), QStringLiteral("12:00:00"));
        QTest::qWait(20); // a scan would have followed a change
        QCOMPARE(outputsOnPort(), portBefore);
    }

    // A mode command reaches the port byte and the stored record, and the change
    // reaches a client of the event stream without another request.
    void commandReachesPortAndStream()
    {
        const api::Client c = client();
        QVERIFY(!(outputsOnPort() & port::outputBit(3)));
        api::Reply answer;
        QJsonObject seen;
        bool greeted = false;
        const api::Reply stream = c.watch(
            [&](const QByteArray& event, const QByteArray& data) {
                if (event == "state") {
                    greeted = jsonOf(data).value("outputs").toArray().size() == 8;
                    QTimer::singleShot(0, [&] {
                        answer = c.post("/api/command",
                                        command({{"command", "mode"}, {"output", 3}, {"mode", "ON"}}));
                    });
                }
                const QJsonObject o = jsonOf(data);
                if (event == "output" && o.value("output").toInt() == 3 && o.value("driven").toBool()) {
                    seen = o;
                    return false;
                }
                return true;
            },
            std::chrono::seconds(10));
        QVERIFY(greeted);
        QVERIFY2(!seen.isEmpty(), qPrintable(stream.error));
        QCOMPARE(seen.value("mode").toString(), QStringLiteral("ON"));
        QCOMPARE(seen.value("state").toString(), QStringLiteral("ON"));
        QCOMPARE(seen.value("cause").toString(), QStringLiteral("mode"));
        QTRY_COMPARE(answer.status, 200);
        QVERIFY(outputsOnPort() & port::outputBit(3));
        // Commanded modes are stored together, off the switching path, shortly after.
        QTRY_COMPARE(stored(QStringLiteral("On3")), QStringLiteral("True"));
        QCOMPARE(stored(QStringLiteral("Auto3")), QStringLiteral("False"));
    }

    // A client that opens the stream and never reads is let go; the switch never
    // waits for it, and a switching goes out as usual.
    void stalledClientIsDropped()
    {
        QTcpSocket stalled;
        stalled.setReadBufferSize(1024); // Qt stops taking bytes from the kernel then
        stalled.connectToHost(QStringLiteral("127.0.0.1"), api().port());
        QVERIFY(stalled.waitForConnected(2000));
        stalled.write("GET /api/events HTTP/1.0\r\nAuthorization: Bearer " + api().token() + "\r\n\r\n");
        QTRY_COMPARE(api().streamCount(), 1);
        // Far more than the stream may fall behind plus what the sockets hold.
        const QString padding(200, QLatin1Char('x'));
        for (int i = 0; i < 4000 && api().streamCount() > 0; ++i) {
            m_service->model().editLocation(1 + i % 13, padding + QString::number(i));
            api().flush();
        }
        QCOMPARE(api().streamCount(), 0);
        m_service->requestMode(5, channels::Mode::On);
        QTRY_VERIFY(outputsOnPort() & port::outputBit(5));
    }
};

QTEST_GUILESS_MAIN(TestApi)
#include "tst_api.moc"
