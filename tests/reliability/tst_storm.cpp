#include "reliability.h"
#include "tests/support/mosquitto.h"

#include <QSettings>
#include <QTemporaryFile>

// SIGTERM in the middle of a storm of MQTT mode commands (kestra3 --headless, a
// real mosquitto): within 2 s the program is gone with every output OFF and the
// control register clear, and no queued command switches anything after that.
// KESTRA_RELIABILITY_STORMS sets the count (10 by default).

using namespace reliability;

class TstStorm : public QObject
{
    Q_OBJECT

    Groundwork m_ground;
    mqtttest::Broker m_broker;
    QTemporaryFile m_burst; // 20,000 commands, ON and OFF by turns

    QString trial(int index)
    {
        std::mt19937_64 rng = trialRandom(29, index);
        const bool fiveVolts = uniform(rng, 0, 1) == 1;
        const int delayMs = uniform(rng, 50, 1500);
        const QString what = QStringLiteral("SIGTERM %1 ms into the storm").arg(delayMs);
        Sandbox box;
        const Build b = kestra3();
        const QString root = QStringLiteral("kestra/storm%1/").arg(index);
        if (!m_ground.database.copyTo(box, b) ||
            !box.setFields(b, {{QStringLiteral("SOURCEPORT"), kestra::flagText(fiveVolts)}}))
            return what + QStringLiteral(": cannot lay out the database");
        QSettings ini(box.iniPath(b), QSettings::IniFormat);
        for (const auto& [key, value] : {std::pair{"Enabled", QStringLiteral("true")},
                                         {"Host", QStringLiteral("127.0.0.1")},
                                         {"Port", QString::number(m_broker.port())},
                                         {"Name", root.section(QLatin1Char('/'), 1, 1)}})
            ini.setValue(QStringLiteral("MQTT/") + QLatin1String(key), value);
        ini.sync();
        mqtttest::Subscriber online(m_broker.port(), root + QStringLiteral("availability"));
        Program k(box, b);
        k.setArguments({QStringLiteral("--headless")});
        if (!k.start() || !k.waitRunning() || !online.wait(root + QStringLiteral("availability"), 10000))
            return what + QStringLiteral(": did not come online (standard error: %1)").arg(said(k));
        QProcess storm;
        storm.setStandardInputFile(m_burst.fileName());
        storm.start(QStringLiteral("mosquitto_pub"), {"-p", QString::number(m_broker.port()), "-q", "1", "-l",
                                                      "-t", root + QStringLiteral("output/4/mode/set")});
        sleepMs(delayMs);
        const QString late = termination(k);
        storm.kill();
        storm.waitForFinished(5000);
        if (!late.isEmpty()) return what + QStringLiteral(": ") + late;
        const PortBytes port = box.port(b);
        if (port.data != allOffByte(fiveVolts) || port.control != 0)
            return what + QStringLiteral(": left the port at %1").arg(e2e::describe(port));
        sleepMs(300);
        if (!(box.port(b) == port)) return what + QStringLiteral(": the port changed after the end");
        return {};
    }

private slots:
    void initTestCase()
    {
        const QString problem = m_ground.lay(kestra3());
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY(m_broker.start() && m_burst.open());
        for (int i = 0; i < 10000; ++i)
            m_burst.write("ON\nOFF\n");
        m_burst.flush();
    }

    void sigtermDuringACommandStorm()
    {
        const auto results =
            runTrials(int(setting("KESTRA_RELIABILITY_STORMS", 10)), [this](int i) { return trial(i); });
        const QString text =
            summary(QStringLiteral("SIGTERM in a command storm"),
                    QStringLiteral("ended within 2 s, all OFF, nothing switched after"), results);
        qInfo("%s", qPrintable(text));
        QVERIFY2(allPassed(results), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TstStorm)
#include "tst_storm.moc"
