#include "service/mqtt/link.h"
#include "tests/support/mosquitto.h"
#include "views/mqtt/settingswindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryFile>
#include <QTest>
#include <QTimeZone>
#include <algorithm>

using namespace kestra;
using namespace kestra::mqtt;
using namespace mqtttest;
using LinkState = Link::State;

namespace {
const QString T = QStringLiteral("kestra/kestra3-test/");

Settings settingsFor(int port)
{
    Settings s;
    s.enabled = true;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    s.name = QStringLiteral("kestra3-test");
    return s;
}

bool connects(Link& link, const Settings& s)
{
    link.apply(s);
    return QTest::qWaitFor([&] { return link.state() == LinkState::Connected; }, 5000);
}

void publish(int port, const QString& topic, const QString& payload, bool retain = false)
{
    QStringList args{"-h", "127.0.0.1", "-p", QString::number(port), "-q", "1", "-t", topic};
    args << (payload.isEmpty() ? QStringList{"-n"} : QStringList{"-m", payload});
    if (retain) args << "-r";
    QProcess::execute(QStringLiteral("mosquitto_pub"), args);
}

// What the code under test writes to standard error while it lives.
class Stderr
{
public:
    Stderr() : m_saved(dup(2)) { m_file.open(), dup2(m_file.handle(), 2); }
    ~Stderr() { dup2(m_saved, 2), ::close(m_saved); }
    QString text()
    {
        QFile f(m_file.fileName());
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }

private:
    QTemporaryFile m_file;
    int m_saved;
};
} // namespace

class TstLink : public QObject
{
    Q_OBJECT
private slots:
    // What Home Assistant needs at connect: discovery and every state, retained;
    // a clean stop leaves the outputs' OFF states and then "offline".
    void connectPublishesEverythingAndStopSaysOffline()
    {
        Broker broker;
        QVERIFY(broker.start());
        Link link(kestra3Config());
        link.setOutputs(0b101);
        link.setMode(1, channels::Mode::Auto);
        link.setMode(2, channels::Mode::None);
        link.setNext(1, QDateTime(QDate(2026, 12, 8), QTime(17, 0), QTimeZone("Europe/Berlin")));
        link.setHours(1, 1.5);
        link.setInput(2, true);
        link.setLocation(1, QStringLiteral("Porch light"));
        QVERIFY(connects(link, settingsFor(broker.port())));

        Subscriber sub(broker.port());
        const std::optional<Message> online = sub.wait(T + "availability");
        QVERIFY(online && online->retained && online->payload == "online");
        const QString expected = "output/1/state=ON output/2/state=OFF output/3/state=ON output/8/state=OFF "
                                 "output/1/mode=AUTO output/2/mode=None output/1/hours=1.50 input/2/state=ON "
                                 "output/1/next=2026-12-08T17:00:00+01:00";
        for (const QString& pair : expected.split(' ')) {
            const std::optional<Message> m = sub.wait(T + pair.section('=', 0, 0));
            QVERIFY2(m && m->retained && m->payload == pair.section('=', 1).toUtf8(), qPrintable(pair));
        }
        const std::optional<Message> config =
            sub.wait(QStringLiteral("homeassistant/device/kestra3-test/config"));
        QVERIFY(config && config->retained && config->payload.contains("\"name\":\"Porch light\""));

        Settings noDiscovery = settingsFor(broker.port());
        noDiscovery.discovery = false; // takes the device out of Home Assistant
        link.apply(noDiscovery);
        const std::optional<Message> removal = sub.wait(config->topic, 5000, config->index + 1);
        QVERIFY(removal && removal->payload.isEmpty());
        // Noted in the file once the link's thread has told the main thread, which may be after the broker had it.
        QTRY_COMPARE(Announced::load(QStringLiteral("KESTRA3")).discoveryTopic, QString());
        const size_t before = sub.messages().size();
        link.setOutputs(0);
        link.stop(std::chrono::seconds(2));
        const std::optional<Message> offline = sub.wait(T + "availability", 5000, before);
        QVERIFY(offline && offline->payload == "offline");
        const std::optional<Message> off = sub.wait(T + "output/3/state", 1000, before);
        QVERIFY(off && off->payload == "OFF" && off->index < offline->index);
    }

    // A relay's state must reach the broker at once, not at the next scan or timer.
    void stateFollowsThePortWrite()
    {
        Broker broker;
        QVERIFY(broker.start());
        Link link(kestra3Config());
        link.setOutputs(0);
        QVERIFY(connects(link, settingsFor(broker.port())));
        Subscriber sub(broker.port(), T + "output/1/state");
        QVERIFY(sub.wait(T + "output/1/state"));
        std::vector<double> ms;
        for (int i = 1; i <= 20; ++i) {
            const size_t from = sub.messages().size();
            const double at = nowSeconds();
            link.setOutputs(i % 2);
            const std::optional<Message> m = sub.wait(T + "output/1/state", 2000, from);
            QVERIFY(m && m->payload == (i % 2 ? "ON" : "OFF"));
            ms.push_back((m->at - at) * 1000);
        }
        std::sort(ms.begin(), ms.end());
        qInfo("setOutputs to the state at the broker: median %.2f ms, max %.2f ms", ms[ms.size() / 2],
              ms.back());
        QVERIFY(ms.back() < 1000);
    }

    // A retained command would switch a relay at every reconnect; garbage is said
    // and ignored. MQTT 3.1.1 would hand one published while connected over
    // without its flag: with MQTT 5 (retain as published) it is known.
    void onlyALiveValidCommandActs()
    {
        Broker broker;
        QVERIFY(broker.start());
        publish(broker.port(), T + "output/1/mode/set", "ON", true);
        Stderr err;
        Link link(kestra3Config());
        QSignalSpy commands(&link, &Link::modeCommand);
        QVERIFY(connects(link, settingsFor(broker.port())));
        publish(broker.port(), T + "output/1/mode/set", "ON", true);
        publish(broker.port(), T + "output/2/mode/set", "toggle");
        publish(broker.port(), T + "output/9/mode/set", "ON");
        publish(broker.port(), T + "output/2/mode/set", "");
        publish(broker.port(), T + "output/3/mode/set", " auto ");
        QTRY_COMPARE_WITH_TIMEOUT(commands.size(), 1, 5000);
        QCOMPARE(commands[0][0].toInt(), 3);
        QCOMPARE(commands[0][1].value<channels::Mode>(), channels::Mode::Auto);
        QTRY_COMPARE(err.text().count(QStringLiteral("MQTT: ignored ")), 4);
        QVERIFY(err.text().contains("output/1/mode/set: a retained command is never acted on"));
    }

    // A switch killed outright must not stay "online" in Home Assistant.
    void killedClientLeavesTheWill()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), T + "availability");
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--child", QString::number(broker.port())});
        QVERIFY(sub.wait(T + "availability"));
        const size_t from = sub.messages().size();
        child.kill();
        QVERIFY(sub.wait(T + "availability", 5000, from));
        // Retained, so that a Home Assistant that starts later sees it too.
        const std::optional<Message> will = Subscriber(broker.port()).wait(T + "availability");
        QVERIFY(will && will->retained && will->payload == "offline");
    }

    // A restarted broker has lost every retained message: all of it goes out again.
    void brokerRestartRepublishes()
    {
        Broker broker;
        QVERIFY(broker.start());
        Link link(kestra3Config());
        link.setOutputs(1);
        QVERIFY(connects(link, settingsFor(broker.port())));
        broker.stop();
        QTRY_COMPARE_WITH_TIMEOUT(link.state(), LinkState::Unreachable, 5000);
        link.setOutputs(0x81); // while away: the latest value is what counts
        QVERIFY(broker.start());
        QTRY_COMPARE_WITH_TIMEOUT(link.state(), LinkState::Connected, 10000);
        Subscriber sub(broker.port());
        QVERIFY(sub.wait(T + "availability"));
        const std::optional<Message> m8 = sub.wait(T + "output/8/state");
        QVERIFY(m8 && m8->payload == "ON");
        QVERIFY(sub.wait(QStringLiteral("homeassistant/device/kestra3-test/config")));
    }

    // Wrong credentials: said once, never anonymous; new settings take effect without a restart.
    void badCredentialsAreSaidOnceAndNeverAnonymous()
    {
        Broker broker(QStringLiteral("alice"), QStringLiteral("secret"));
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), T + "#");
        Stderr err;
        Link link(kestra3Config());
        Settings s = settingsFor(broker.port());
        s.username = QStringLiteral("alice");
        s.password = QStringLiteral("wrong-one");
        link.apply(s);
        QTRY_VERIFY_WITH_TIMEOUT(
            link.state() == LinkState::NotAuthorised || link.state() == LinkState::BadCredentials, 5000);
        QTest::qWait(2500);
        QVERIFY(link.state() != LinkState::Connected);
        QVERIFY(!sub.wait(T + "availability", 10));
        QCOMPARE(err.text().count(QStringLiteral("KESTRA3: MQTT:")), 1);
        QVERIFY(!err.text().contains("wrong-one") && !link.stateText().contains("wrong-one"));

        // The window saves privately and hands the settings over.
        SettingsWindow window(link, QStringLiteral("KESTRA3"));
        window.findChild<QLineEdit*>("txtHost")->setText("127.0.0.1");
        window.findChild<QSpinBox*>("spnPort")->setValue(broker.port());
        window.findChild<QCheckBox*>("chkEnabled")->setChecked(true);
        window.findChild<QLineEdit*>("txtName")->setText("Kestra3 Test");
        window.findChild<QLineEdit*>("txtUsername")->setText("alice");
        window.findChild<QLineEdit*>("txtPassword")->setText("secret");
        QCOMPARE(window.findChild<QLineEdit*>("txtPassword")->echoMode(), QLineEdit::Password);
        window.findChild<QPushButton*>("Apply")->click();
        QTRY_COMPARE_WITH_TIMEOUT(link.state(), LinkState::Connected, 5000);
        QVERIFY(sub.wait(T + "availability"));
        const Settings stored = Settings::load(QStringLiteral("KESTRA3"));
        QCOMPARE(stored.password, QStringLiteral("secret"));
        QCOMPARE(stored.name, QStringLiteral("kestra3-test"));
        QSettings file(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KESTRA3"));
        QCOMPARE(QFileInfo(file.fileName()).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
    }
    // TLS asked for in the file's own words is TLS: against a plain listener
    // the link fails, and the broker never sees the credentials in the clear.
    void tlsYesNeverFallsBackToPlainText()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port());
        QSettings file(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KESTRA3"));
        file.clear();
        for (const QString& kv :
             QStringLiteral("Enabled=yes Host=127.0.0.1 Tls=yes Username=a Password=b").split(' '))
            file.setValue("MQTT/" + kv.section('=', 0, 0), kv.section('=', 1));
        file.setValue("MQTT/Port", broker.port());
        file.sync();
        Stderr err;
        Link link(kestra3Config());
        link.apply(Settings::load(QStringLiteral("KESTRA3")));
        QTRY_COMPARE_WITH_TIMEOUT(link.state(), LinkState::TlsError, 5000);
        QTest::qWait(1500);
        QVERIFY(link.state() != LinkState::Connected);
        QVERIFY(sub.messages().empty()); // not one message in plain text
        QVERIFY(err.text().contains(QStringLiteral("TLS")));
    }

    // Another client's retained state, mode or availability on this device's
    // topics would stay wrong for good: the link puts its own back.
    void spoofedRetainedValuesArePutBack()
    {
        Broker broker;
        QVERIFY(broker.start());
        Link link(kestra3Config());
        link.setOutputs(0);
        link.setMode(7, channels::Mode::Off);
        QVERIFY(connects(link, settingsFor(broker.port())));
        QVERIFY(Subscriber(broker.port()).wait(T + "output/7/mode"));
        Stderr err;
        publish(broker.port(), T + "output/8/state", "ON", true);
        publish(broker.port(), T + "output/7/mode", "AUTO", true);
        publish(broker.port(), T + "availability", "offline", true);
        QTest::qWait(500);
        // What a Home Assistant that starts now is given.
        Subscriber late(broker.port(), T + "#");
        for (const auto& [leaf, payload] :
             {std::pair{"output/8/state", "OFF"}, {"output/7/mode", "OFF"}, {"availability", "online"}}) {
            const std::optional<Message> m = late.wait(T + leaf, 3000);
            QVERIFY2(m && m->retained && m->payload == payload, leaf);
        }
        QVERIFY(
            err.text().contains(QStringLiteral("another client published ON on ") + T + "output/8/state"));
    }

    // A rename leaves no dead device in Home Assistant: the old discovery and
    // retained availability go at the first connect after it, and only then;
    // with discovery off, no empty discovery goes out at every connect.
    void renameRemovesTheOldDeviceOnce()
    {
        Broker broker;
        QVERIFY(broker.start());
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KESTRA3")).clear();
        Subscriber sub(broker.port());
        const QString oldConfig = QStringLiteral("homeassistant/device/kestra3-test/config");
        const QString newConfig = QStringLiteral("homeassistant/device/kestra3-new/config");
        Settings renamed = settingsFor(broker.port());
        renamed.name = QStringLiteral("kestra3-new");
        // One run under the old name, ended as a stop ends it; then two under the new.
        for (const Settings& s : {settingsFor(broker.port()), renamed, renamed}) {
            Link link(kestra3Config());
            QVERIFY(connects(link, s));
            QVERIFY(sub.wait(s.name == renamed.name ? newConfig : oldConfig));
            link.stop(std::chrono::seconds(2));
        }
        const auto count = [&](const QString& topic, bool empty) {
            return std::count_if(sub.messages().begin(), sub.messages().end(), [&](const Message& m) {
                return m.topic == topic && m.payload.isEmpty() == empty;
            });
        };
        QCOMPARE(count(oldConfig, true), 1);
        QCOMPARE(count(T + "availability", true), 1);
        QVERIFY(!Subscriber(broker.port()).wait(oldConfig, 300)); // nothing retained there now

        Settings off = renamed;
        off.discovery = false;
        for (int run = 0; run < 2; ++run) {
            Link link(kestra3Config());
            QVERIFY(connects(link, off));
            link.stop(std::chrono::seconds(2));
        }
        QTest::qWait(300);
        QCOMPARE(count(newConfig, true), 1);
    }
};
int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0) {
        QCoreApplication app(argc, argv);
        Link link(kestra3Config());
        link.apply(settingsFor(QByteArray(argv[2]).toInt()));
        return app.exec();
    }
    QApplication app(argc, argv);
    TstLink test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_link.moc"
