// The API of the running switch, in this process: what it refuses, a command
// reaching the port byte and the event stream, and a client that stops reading.

#include "base/clock.h"
#include "client/apirequest.h"
#include "client/decode.h"
#include "client/endpoint.h"
#include "model/errorroutine.h"
#include "model/switchmodel.h"
#include "platform/port/bits.h"
#include "platform/port/port.h"
#include "service/api/api.h"
#include "service/homeautomation.h"
#include "service/service.h"
#include "storage/calendar/file.h"
#include "storage/store/database.h"
#include "tests/support/testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

using namespace kestra;

Q_DECLARE_METATYPE(calendar::Settings)

namespace {

QJsonObject jsonOf(const QByteArray& body)
{
    return QJsonDocument::fromJson(body).object();
}

QByteArray command(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// The member at "outputs/3/switchings/0/start/offset".
QJsonValue at(QJsonValue v, const QString& path)
{
    for (const QString& step : path.split(QLatin1Char('/')))
        v = v.isArray() ? v.toArray().at(step.toInt()) : v.toObject().value(step);
    return v;
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
        // The calendar file of an earlier run would be the starting point of the calendar's rows.
        QFile::remove(calendar::calendarPath(kestra3Config()));
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

    // The link's settings from a client: judged with the window's words, stored
    // and taken by the running link at once; the broker's password never goes
    // back to a client, stays when left out, and goes to no other broker.
    void mqttSettings_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says"); // in the refusal, or the path of GET /api/mqtt to check
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<QString>("password"); // in the placement file afterwards
        const auto row = [](const char* name, const QByteArray& fields, int status, const QString& says,
                            const QJsonValue& value, const char* password) {
            QTest::newRow(name) << R"({"command":"mqttSettings",)" + fields + "}" << status << says << value
                                << QString::fromLatin1(password);
        };
        // The rows build on each other, as one person's edits.
        row("stored as the window takes them",
            R"("host":" 127.0.0.1 ","port":1,"username":"kestra","password":"s3cret","name":"Office Timer",)"
            R"("baseTopic":"/house/timers/","outputs":[{"output":3,"topic":" cmnd/porch/POWER "}])",
            200, "settings/baseTopic", "house/timers", "s3cret");
        row("password left out", R"("enabled":true,"name":"")", 200, "settings/passwordSet", true, "s3cret");
        row("password null", R"("password":null,"outputs":[{"output":3,"on":"1"}])", 200,
            "settings/outputs/2/topic", "cmnd/porch/POWER", "s3cret");
        row("host a URL", R"("host":"mqtt://broker.local")", 422,
            "the Host \"mqtt://broker.local\" cannot be used: it holds a /", {}, "s3cret");
        row("topic a wildcard", R"("baseTopic":"house/+")", 422,
            "the BaseTopic \"house/+\" cannot be used: it holds a wildcard", {}, "s3cret");
        row("port 70000", R"("port":70000)", 400, "\"port\" is out of range: 1 to 65535", {}, "s3cret");
        row("kept password to another broker", R"("host":"elsewhere.example")", 422,
            "the stored password goes only to the broker it was given for", {}, "s3cret");
        row("another broker with its password", R"("host":"localhost","password":"n3w")", 200,
            "settings/host", "localhost", "n3w");
        row("password cleared", R"("password":"")", 200, "settings/passwordSet", false, "");
    }

    void mqttSettings()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, says);
        QFETCH(QJsonValue, value);
        QFETCH(QString, password);
        const QString title = QStringLiteral("KESTRA3");
        const mqtt::Settings before = mqtt::Settings::load(title);
        const api::Reply r = client().post("/api/command", body);
        QVERIFY2(r.status == status, r.body.constData());
        const api::Reply served = client().get("/api/mqtt");
        for (const QByteArray secret : {"s3cret", "n3w"})
            QVERIFY(!r.body.contains(secret) && !served.body.contains(secret));
        if (status != 200) {
            const QJsonObject error = jsonOf(r.body).value("error").toObject();
            const QString text = error.value(status == 422 ? "description" : "text").toString();
            QVERIFY2(text.contains(says), qPrintable(text));
            if (status == 422) {
                QCOMPARE(error.value("number").toInt(), 13);
                QCOMPARE(error.value("text").toString(), mqtt::notSavedText(text));
            }
            QCOMPARE(mqtt::Settings::load(title), before);
        } else {
            QCOMPARE(at(jsonOf(served.body), says), value);
        }
        QCOMPARE(mqtt::Settings::load(title).password, password);
        // Taken without a restart: the link runs what the file holds.
        QCOMPARE(m_service->homeAutomation().link().settings(), mqtt::Settings::load(title));
    }

    // Calendar edits from a client: stored whole or refused with the calendar
    // window's own words, and the switch follows what the file holds.
    void calendarCommands_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says"); // in the refusal, or the path of GET /api/calendar to check
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<QByteArray>("path");
        const auto row = [](const char* name, const QByteArray& body, int status, const QString& says,
                            const QJsonValue& value = {}, const QByteArray& path = "/api/command") {
            QTest::newRow(name) << body << status << says << value << path;
        };
        // A holiday file of `bytes`, larger than any other request may carry.
        const auto icsOf = [](qsizetype bytes) {
            const QString head = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:1\r\nSUMMARY:Big\r\n"
                                 "DTSTART;VALUE=DATE:20270102\r\nDESCRIPTION:";
            const QString tail = "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
            const QString ics = head + QString(bytes - head.size() - tail.size(), 'x') + tail;
            return QJsonDocument(QJsonObject{{"command", "calendarImport"}, {"outputs", "5"}, {"ics", ics}})
                .toJson();
        };
        const QByteArray importPath = "/api/command/calendarImport";
        const QByteArray ics =
            QJsonDocument(
                QJsonObject{{"command", "calendarImport"},
                            {"outputs", "4"},
                            {"ics",
                             "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:1\r\nSUMMARY:New Year\r\n"
                             "DTSTART;VALUE=DATE:20270101\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"}})
                .toJson();
        // The rows build on each other, as one person's edits.
        row("place", R"({"command":"calendarPlace","latitude":"52.52","longitude":13.405,"name":"Berlin"})",
            200, "place/latitude", 52.52);
        row("latitude 91", R"({"command":"calendarPlace","latitude":"91","longitude":"13"})", 422,
            "latitude 91 is out of -90..90");
        row("latitude a word", R"({"command":"calendarPlace","latitude":"north","longitude":"13"})", 422,
            "latitude \"north\" is not a number");
        row("twilight", R"({"command":"calendarTwilight","twilight":"civil"})", 200, "twilight", "civil");
        row("sunset anchor",
            R"({"command":"calendarAnchor","output":4,"switching":1,"edge":"start","kind":"sunset",)"
            R"("offset":"-0:15","notBefore":"17:00:00"})",
            200, "outputs/3/switchings/1/start/offset", -900);
        row("offset over 4 h",
            R"({"command":"calendarAnchor","output":4,"switching":1,"edge":"end","kind":"sunset","offset":"+4:30"})",
            422, "output 4, switching b end: offset +4:30 is more than 4 hours");
        row("offset a word",
            R"({"command":"calendarAnchor","output":4,"switching":0,"edge":"start","kind":"sunrise","offset":"soon"})",
            422, "switching a start: offset \"soon\" is not -h:mm or minutes");
        row("limit no time",
            R"({"command":"calendarAnchor","output":4,"switching":0,"edge":"start","kind":"sunrise","notBefore":"25:00"})",
            422, "switching a start \"not before\" \"25:00\" is not a time hh:mm:ss");
        row("limits crossed",
            R"({"command":"calendarAnchor","output":4,"switching":0,"edge":"start","kind":"sunrise",)"
            R"("notBefore":"20:00:00","notAfter":"18:00:00"})",
            422, "\"not before\" 20:00:00 is later than \"not after\" 18:00:00");
        row("offset on the clock",
            R"({"command":"calendarAnchor","output":4,"switching":0,"edge":"start","kind":"clock","offset":"15"})",
            422, "an offset or a limit needs sunrise or sunset");
        row("a start keeping the run",
            R"({"command":"calendarAnchor","output":4,"switching":0,"edge":"start","kind":"run"})", 400,
            "keeps the run time");
        row("presence", R"({"command":"calendarPresence","output":4,"minutes":10})", 200,
            "outputs/3/presence", 10);
        row("holiday",
            R"({"command":"calendarHoliday","name":"Christmas","from":"2026-12-24","to":"2027-01-06",)"
            R"("everyYear":true,"outputs":[4],"action":"OFF"})",
            200, "holidays/0/to", "2027-01-06");
        row("holiday backwards",
            R"({"command":"calendarHoliday","index":0,"name":"Advent","from":"2026-12-24","to":"2026-12-01","outputs":"4"})",
            422, "holiday \"Advent\" ends (2026-12-01) before it starts (2026-12-24)");
        row("holiday output 9",
            R"({"command":"calendarHoliday","name":"X","from":"2026-12-24","to":"2026-12-26","outputs":"4 9"})",
            422, "holiday \"X\": output \"9\" is not 1 to 8");
        row("damaged ics",
            R"({"command":"calendarImport","outputs":"4","ics":"BEGIN:VCALENDAR\r\nBEGIN:VEVENT"})", 422,
            "Holiday file refused");
        row("ics", ics, 200, "holidays/1/name", "New Year");
        row("remove", R"({"command":"calendarRemoveHoliday","index":0})", 200, "holidays/0/name", "New Year");
        row("ics of 900 KiB on its path", icsOf(900 * 1024), 200, "holidays/1/name", "Big", importPath);
        row("body over 2 MiB", icsOf(2100 * 1024), 413, "larger than 2097152 bytes", {}, importPath);
        row("another command on the import's path", R"({"command":"calendarRemoveHoliday","index":0})", 400,
            "takes only the command \"calendarImport\"", {}, importPath);
    }

    void calendarCommands()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, says);
        QFETCH(QJsonValue, value);
        QFETCH(QByteArray, path);
        const calendar::CalendarFile file(calendar::calendarPath(kestra3Config()));
        const std::optional<calendar::Settings> before =
            file.exists() ? std::optional(file.load()) : std::nullopt;
        const api::Reply r = client().post(path, body);
        QVERIFY2(r.status == status, r.body.left(300).constData());
        if (status != 200) {
            const QJsonObject error = jsonOf(r.body).value("error").toObject();
            const QString text = error.value(status == 422 ? "description" : "text").toString();
            QVERIFY2(text.contains(says), qPrintable(text));
            if (status == 422) QCOMPARE(error.value("number").toInt(), 13);
            QVERIFY(before); // the first row stores
            QCOMPARE(file.load(), *before);
        } else {
            const QJsonObject c = jsonOf(client().get("/api/calendar").body);
            QCOMPARE(at(c, says), value);
        }
        // One state: what the file holds is what the switch follows.
        QVERIFY(m_service->model().calendar());
        QCOMPARE(*m_service->model().calendar(), file.load());
    }
    // What a calendar window of an attached program changed, sent as the
    // calendar commands, leaves the switch holding exactly the window's
    // settings, and the calendar it then serves reads back as the same.
    void windowEditsAsCommands_data()
    {
        using calendar::Anchor;
        using calendar::Holiday;
        QTest::addColumn<calendar::Settings>("before");
        QTest::addColumn<calendar::Settings>("after");
        const auto holiday = [](const char* name, int from, int to, quint8 outputs = 0x04) {
            return Holiday{QLatin1String(name), QDate(2026, 12, from), QDate(2026, 12, to), false, outputs,
                           Holiday::Action::Off};
        };
        calendar::Settings berlin;
        berlin.place = {true, 52.52, 13.405, QStringLiteral("Berlin")};
        berlin.twilight = calendar::Twilight::Civil;
        QTest::newRow("place and twilight") << calendar::Settings{} << berlin;
        QTest::newRow("place cleared") << berlin << calendar::Settings{};

        calendar::Settings sun = berlin;
        Anchor porch{Anchor::Kind::Sunset, -900, 17 * 3600, std::nullopt};
        sun.outputs[2].switchings = {{porch, Anchor::run()}};
        sun.outputs[2].presenceMinutes = 10;
        // Output 8's last switching, and output 7's finish on the clock as its window offers it.
        sun.outputs[7].switchings.resize(10);
        sun.outputs[7].switchings[9].end = {Anchor::Kind::Sunrise, 3600, std::nullopt, 8 * 3600};
        sun.outputs[6].switchings = {
            {Anchor{Anchor::Kind::Sunrise, 0, std::nullopt, std::nullopt}, Anchor{}}};
        QTest::newRow("anchors and presence") << berlin << sun;
        calendar::Settings clock = berlin;
        clock.outputs[6].switchings = {{Anchor{}, Anchor{}}}; // as output 7's window has it
        QTest::newRow("anchors back to the clock") << sun << clock;

        calendar::Settings three = berlin, two = berlin, other = berlin;
        three.holidays = {holiday("A", 1, 2), holiday("B", 3, 4), holiday("C", 5, 6)};
        two.holidays = {holiday("A", 1, 2), holiday("C", 5, 6)};
        other.holidays = {holiday("A", 1, 9, 0x14), holiday("D", 24, 31)};
        other.holidays[0].everyYear = true;
        other.holidays[1].action = Holiday::Action::AsSunday;
        QTest::newRow("a middle holiday removed") << three << two;
        QTest::newRow("holidays replaced, added, removed") << three << other;
        QTest::newRow("every holiday removed") << three << berlin;
    }

    void windowEditsAsCommands()
    {
        QFETCH(calendar::Settings, before);
        QFETCH(calendar::Settings, after);
        m_service->model().saveCalendar(before);
        for (const QJsonObject& c : client::calendarCommands(before, after)) {
            const api::Reply r = client().post("/api/command", command(c));
            QVERIFY2(r.status == 200, r.body.constData());
        }
        const auto same = [](const calendar::Settings& a, const calendar::Settings& b) {
            // Output 7's finish keeping "the run time" is its finish on the clock.
            const auto anchorsOf = [](const calendar::Settings& s, int m, int k) {
                calendar::SwitchingAnchors x = s.outputs[m - 1].anchors(k);
                if (m == 7 && x.end.kind == calendar::Anchor::Kind::Run) x.end = {};
                return x;
            };
            bool anchors = true;
            for (int m = 1; m <= 8; ++m)
                for (int k = 0; k < channels::switchingCount(m); ++k)
                    anchors = anchors && anchorsOf(a, m, k) == anchorsOf(b, m, k) &&
                              a.outputs[m - 1].presenceMinutes == b.outputs[m - 1].presenceMinutes;
            return anchors && a.place == b.place && a.twilight == b.twilight && a.holidays == b.holidays;
        };
        const calendar::Settings held = m_service->model().calendarForEdit();
        QVERIFY(same(held, after));
        const calendar::Settings served = client::calendarOf(jsonOf(client().get("/api/calendar").body));
        QVERIFY(same(served, held));
        QCOMPARE(served.seed, held.seed);
    }
};

QTEST_GUILESS_MAIN(TestApi)
#include "tst_api.moc"
