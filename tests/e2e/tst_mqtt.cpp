#include "tests/support/mosquitto.h"
#include "tests/support/sandbox.h"

#include <QSettings>
#include <QTest>

using namespace e2e;

// `f` and channel m's mode fields, `chosen` ("Auto", "On" or "Off") the one selected.
Fields mode(int m, const QString& chosen, Fields f = {})
{
    for (const QString option : {"Auto", "On", "Off"})
        f.push_back({option + QString::number(m), option == chosen ? "True" : "False"});
    return f;
}

// kestra3 --headless with a broker of its own; 5 V is ON, so the data byte reads as the outputs that are ON.
struct Switch
{
    Sandbox box;
    mqtttest::Broker broker;
    std::unique_ptr<mqtttest::Subscriber> sub;
    std::unique_ptr<Program> program;

    // A first run makes the database, which then gets `fields`; the link goes to the broker.
    bool prepare(Fields fields)
    {
        if (!broker.start() || !start() || !program->terminate()) return false;
        QSettings ini(box.iniPath(kestra3()), QSettings::IniFormat);
        for (const auto& [key, value] : std::initializer_list<std::pair<QString, QVariant>>{
                 {"Enabled", true}, {"Host", "127.0.0.1"}, {"Port", broker.port()}, {"Name", "e2e"}})
            ini.setValue("MQTT/" + key, value);
        sub = std::make_unique<mqtttest::Subscriber>(broker.port(), "kestra/e2e/#");
        fields.insert(fields.end(), {{"SOURCEPORT", "True"}, {"output", "0"}});
        return box.setFields(kestra3(), fields);
    }
    bool start(const QString& fakeStart = {})
    {
        program = std::make_unique<Program>(box, kestra3());
        program->setArguments({"--headless"});
        return program->start(fakeStart) && program->waitRunning();
    }
    int data() const { return box.port(kestra3()).data; }
    // The last message on T/`leaf` after message `from`, once it carries `payload`.
    std::optional<mqtttest::Message> seen(const QString& leaf, const QByteArray& payload, size_t from = 0)
    {
        std::optional<mqtttest::Message> m;
        waitUntil([&] { return (m = sub->wait("kestra/e2e/" + leaf, 10, from)) && m->payload == payload; },
                  5s);
        return m && m->payload == payload ? m : std::nullopt;
    }
    void publish(const QString& leaf, const QString& payload, bool retain = false)
    {
        QProcess::execute("mosquitto_pub", {"-p", QString::number(broker.port()), "-t", "kestra/e2e/" + leaf,
                                            "-m", payload, retain ? "-r" : "--quiet"});
    }
};

class TstMqtt : public QObject
{
    Q_OBJECT

private slots:
    // Outputs and inputs reach the broker as the port has them, and a broker
    // that stops answering (SIGSTOP) does not hold up the switching.
    void statesFollowThePortWhileTheBrokerStands()
    {
        REQUIRE_FAKETIME();
        Switch s;
        // Channel 3 comes ON at 12:00:00, eight seconds after the start.
        QVERIFY(
            s.prepare(mode(3, "Auto", {{"Mon3", "True"}, {"Start3a", "12:00:00"}, {"Run3a", "00:10:00"}})));
        QVERIFY(s.start("2026-12-07 11:59:52"));
        QVERIFY2(s.seen("availability", "online"), qPrintable(s.program->standardError()));
        QVERIFY(s.seen("output/3/state", "OFF"));
        s.broker.pause();
        QVERIFY(waitUntil([&] { return s.data() == 4; }, 12s));
        s.broker.resume();
        QVERIFY(s.seen("output/3/state", "ON"));
        QVERIFY(s.box.writePort(kestra3(), 1, 0xF8)); // input 1 ON
        QVERIFY(s.seen("input/1/state", "ON"));
    }

    // A live command drives the port at once and is stored soon after; a retained one is not
    // acted on at connect. SIGTERM sends the OFF states before "offline" and ends
    // within a second. (The last will after kill -9 is the link's, tested there.)
    void commandsAndTheEnd()
    {
        Switch s;
        QVERIFY(s.prepare(mode(4, "Off", mode(5, "Off"))));
        s.publish("output/5/mode/set", "ON", true);
        QVERIFY(s.start());
        QVERIFY2(s.seen("availability", "online"), qPrintable(s.program->standardError()));
        s.publish("output/4/mode/set", " on ");
        QVERIFY(waitUntil([&] { return s.data() != 0; }, 1s, 1));
        QCOMPARE(s.data(), 8);
        QVERIFY(s.seen("output/4/state", "ON") && s.seen("output/4/mode", "ON"));
        // Stored with the other commands of its half second, not ahead of the scan.
        QVERIFY(waitUntil([&] { return s.box.field(kestra3(), "On4") == QLatin1String("True"); }, 1s));
        const size_t before = s.sub->messages().size();
        QVERIFY(s.program->terminate(1s));
        const auto off = s.seen("output/4/state", "OFF", before), offline = s.seen("availability", "offline");
        QVERIFY(off && offline && off->index < offline->index);
    }
};

QTEST_GUILESS_MAIN(TstMqtt)
#include "tst_mqtt.moc"
