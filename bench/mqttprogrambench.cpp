// kestra-mqtt-programbench: the MQTT link in the running program, measured from
// outside. Starts a mosquitto of its own and kestra3 (without windows, or with
// them on the offscreen platform) in temporary directories, and times:
//  1. a mode command (mosquitto_pub on T/output/4/mode/set) to the data byte in
//     the simulated port file;
//  2. a port write to its state message at the broker (those of the commands
//     and of the switchings of 3);
//  3. a switching's edge on the port against its scheduled second, with MQTT
//     off, with the broker running, and with the broker stopped (SIGSTOP);
//  4. SIGTERM to the program's end, with the broker running and stopped.
// With --storm N: the switchings again with a burst of N mode commands
// (mosquitto_pub -l, as fast as it sends) starting 0.3 s before each ON edge;
// with a disk that takes --slow-flush ms per fsync (an LD_PRELOAD shim, this
// benchmark only) and 20 commands a second throughout; and SIGTERM in the
// middle of a burst of 100,000.

#include "tests/support/mosquitto.h"
#include "tests/support/sandbox.h"

#include "bench/benchsupport.h"
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace e2e;
using namespace mqtttest;

using namespace kestra::bench;

namespace {

const QString kRoot = QStringLiteral("kestra/bench/");
// How often the port file is read: a latency is late by up to this.
constexpr int kPollUs = 250;

class Bench
{
public:
    Bench(const QString& program, bool windows) : m_build{program, "KESTRA3", "Kestra3.db", "port-3BC"}
    {
        if (!windows) m_arguments << QStringLiteral("--headless");
    }

    // Set before a start: what the started program's environment adds.
    void setPreload(const QString& lib, int flushMs)
    {
        m_preload = lib;
        m_flushMs = flushMs;
    }

    // `count` commands for output 4, ON and OFF by turns, sent as fast as
    // mosquitto_pub sends; `perSecond` > 0: at that rate instead, for `count` in all.
    std::unique_ptr<QProcess> burst(int count, int perSecond = 0)
    {
        auto p = std::make_unique<QProcess>();
        const QString pub = QStringLiteral("mosquitto_pub -p %1 -q 1 -t %2output/4/mode/set -l")
                                .arg(m_broker.port())
                                .arg(kRoot);
        const QString lines =
            perSecond > 0
                ? QStringLiteral("i=0; while [ $i -lt %1 ]; do echo ON; echo OFF; i=$((i+2)); sleep %2; done")
                      .arg(count)
                      .arg(2.0 / perSecond, 0, 'f', 3)
                : QStringLiteral("i=0; while [ $i -lt %1 ]; do echo ON; echo OFF; i=$((i+2)); done")
                      .arg(count);
        const QString file = m_box.data() + QStringLiteral("/burst-%1").arg(count);
        if (perSecond > 0)
            p->start(QStringLiteral("sh"),
                     {QStringLiteral("-c"), QStringLiteral("(%1) | %2").arg(lines, pub)});
        else {
            // Written first, so that the burst is the sending alone.
            if (!QFile::exists(file))
                QProcess::execute(QStringLiteral("sh"),
                                  {QStringLiteral("-c"), QStringLiteral("(%1) > %2").arg(lines, file)});
            p->setStandardInputFile(file);
            p->start(QStringLiteral("sh"), {QStringLiteral("-c"), pub});
        }
        p->waitForStarted(5000);
        return p;
    }

    // SIGTERM 0.3 s into a burst of 100,000 commands: how soon the program ends.
    bool stormStop()
    {
        if (!start(true, {{"Auto4", "False"}, {"On4", "False"}, {"Off4", "True"}})) return false;
        const auto p = burst(100000);
        QThread::msleep(300);
        const bool running = p->state() == QProcess::Running;
        stop(&m_stormStops, 60s); // an end past a minute is a figure too
        const bool ended = true;
        p->kill();
        p->waitForFinished(5000);
        if (!running) say(QStringLiteral("note: the burst had ended before SIGTERM"));
        return ended;
    }

    bool prepare()
    {
        if (!m_broker.start()) return fail(QStringLiteral("mosquitto did not start"));
        m_sub = std::make_unique<Subscriber>(m_broker.port(), kRoot + QStringLiteral("#"));
        return start(false) && stop();
    }

    // The settings record and the link before a start; 5 V is ON, so bit m-1 is output m.
    bool start(bool mqtt, Fields fields = {})
    {
        {
            QSettings ini(m_box.iniPath(m_build), QSettings::IniFormat);
            ini.setValue(QStringLiteral("MQTT/Enabled"), mqtt);
            ini.setValue(QStringLiteral("MQTT/Host"), QStringLiteral("127.0.0.1"));
            ini.setValue(QStringLiteral("MQTT/Port"), m_broker.port());
            ini.setValue(QStringLiteral("MQTT/Name"), QStringLiteral("bench"));
        }
        fields.insert(fields.end(), {{"SOURCEPORT", "True"}, {"output", "0"}});
        if (QFile::exists(m_box.databasePath(m_build)) && !m_box.setFields(m_build, fields))
            return fail(QStringLiteral("the settings record could not be set"));
        const size_t from = m_sub->messages().size();
        m_program = std::make_unique<Program>(m_box, m_build);
        m_program->setArguments(m_arguments);
        if (!m_preload.isEmpty()) {
            m_program->setEnvironment(QStringLiteral("LD_PRELOAD"), m_preload);
            m_program->setEnvironment(QStringLiteral("KESTRA_BENCH_FLUSH_MS"), QString::number(m_flushMs));
        }
        if (!m_program->start() || !m_program->waitRunning())
            return fail(QStringLiteral("kestra3 did not start"));
        m_portFd = ::open(qPrintable(m_box.portPath(m_build)), O_RDONLY | O_CLOEXEC);
        if (mqtt && !message(QStringLiteral("availability"), "online", from, 10000))
            return fail(QStringLiteral("kestra3 did not come online"));
        return true;
    }

    bool stop(std::vector<double>* ms = nullptr, std::chrono::milliseconds within = 10s)
    {
        ::close(m_portFd);
        const bool ended = m_program->terminate(within);
        if (ms) ms->push_back(double(m_program->lastStopMs()));
        m_program.reset();
        return ended ||
               fail(QStringLiteral("kestra3 did not end within %1 s of SIGTERM").arg(within.count() / 1000));
    }

    // Reads the data byte until `bit` is `on`; the wall clock then, or nothing at the deadline.
    std::optional<double> waitBit(int bit, bool on, double deadline)
    {
        for (;;) {
            unsigned char data = 0;
            const bool read = ::pread(m_portFd, &data, 1, 0) == 1;
            const double now = nowSeconds();
            if (read && bool(data & bit) == on) return now;
            if (now > deadline) return std::nullopt;
            ::usleep(kPollUs);
        }
    }

    // The first message on T/`leaf` with `payload` after message `from`.
    std::optional<Message> message(const QString& leaf, const QByteArray& payload, size_t from, int ms = 2000)
    {
        QDeadlineTimer deadline(ms);
        do {
            m_sub->wait(kRoot + leaf, 10, from);
            for (size_t i = from; i < m_sub->messages().size(); ++i)
                if (const Message& m = m_sub->messages()[i]; m.topic == kRoot + leaf && m.payload == payload)
                    return m;
        } while (!deadline.hasExpired());
        return std::nullopt;
    }
    std::optional<Message> stateMessage(int m, bool on, size_t from)
    {
        return message(QStringLiteral("output/%1/state").arg(m), on ? "ON" : "OFF", from);
    }

    bool commands(int count)
    {
        if (!start(true, {{"Auto4", "False"}, {"On4", "False"}, {"Off4", "True"}})) return false;
        for (int i = 0; i < count; ++i) {
            const bool on = i % 2 == 0;
            const size_t from = m_sub->messages().size();
            QProcess pub;
            pub.start(QStringLiteral("mosquitto_pub"),
                      {QStringLiteral("-p"), QString::number(m_broker.port()), QStringLiteral("-q"),
                       QStringLiteral("1"), QStringLiteral("-t"), kRoot + QStringLiteral("output/4/mode/set"),
                       QStringLiteral("-m"), on ? QStringLiteral("ON") : QStringLiteral("OFF")});
            const auto atPort = waitBit(8, on, nowSeconds() + 5);
            pub.waitForFinished(5000);
            const auto command = message(QStringLiteral("output/4/mode/set"), on ? "ON" : "OFF", from);
            const auto state = stateMessage(4, on, from);
            if (!atPort || !command || !state)
                return fail(QStringLiteral("command %1 was not followed").arg(i));
            m_commandToPort.push_back((*atPort - command->at) * 1e3);
            m_portToState.push_back((state->at - *atPort) * 1e3);
            QThread::msleep(200);
        }
        return stop(&m_stops[0]);
    }

    // Channel 8, ten switchings three seconds apart, each ON for its second and the next.
    // Conditions: 0 MQTT off, 1 broker running, 2 broker stopped, 3 a burst of
    // `storm` commands 0.3 s before each ON edge, 4 20 commands a second throughout.
    bool switchings(int condition, int storm = 0)
    {
        QDateTime first = QDateTime::currentDateTimeUtc().addSecs(6);
        if (first.time() > QTime(23, 58)) {
            say(QStringLiteral("waiting for midnight to pass"));
            QThread::sleep(qMax(1, first.time().secsTo(QTime(23, 59, 59)) + 3));
            first = QDateTime::currentDateTimeUtc().addSecs(6);
        }
        first.setTime(QTime(first.time().hour(), first.time().minute(), first.time().second()));
        static const char* days[] = {"Sun8", "Mon8", "Tue8", "Wed8", "Thr8", "Fri8", "Sat8"};
        Fields fields{{"Auto8", "True"}, {"On8", "False"}, {"Off8", "False"}};
        for (int d = 0; d < 7; ++d)
            fields.push_back({days[d], d == first.date().dayOfWeek() % 7 ? "True" : "False"});
        for (int k = 0; k < 10; ++k) {
            const QString s(QChar('a' + k));
            fields.push_back({"Start8" + s, first.addSecs(3 * k).toString("HH:mm:ss")});
            fields.push_back({"Run8" + s, "00:00:01"});
        }
        if (!start(condition > 0, fields)) return false;
        if (condition == 2) m_broker.pause();
        std::unique_ptr<QProcess> steady;
        if (condition == 4) steady = burst(40 * 20, 20);
        const double firstS = double(first.toSecsSinceEpoch());
        for (int k = 0; k < 10; ++k) {
            for (const bool on : {true, false}) {
                const double due = firstS + 3 * k + (on ? 0 : 2);
                const size_t from = m_sub->messages().size();
                std::unique_ptr<QProcess> storming;
                if (condition == 3 && on) {
                    while (nowSeconds() < due - 0.3)
                        QThread::usleep(500);
                    storming = burst(storm);
                }
                // Under a storm an edge may come very late or not at all (an ON
                // of two seconds lost): counted, and the next one awaited.
                const auto seen = waitBit(128, on, condition >= 3 ? due + 2.9 : due + 1.5);
                if (storming) {
                    storming->waitForFinished(60000);
                    m_burstSeconds.push_back(nowSeconds() - (due - 0.3));
                }
                if (!seen && condition >= 3) {
                    ++m_missed[condition];
                    continue;
                }
                if (!seen) return fail(QStringLiteral("switching %1 did not reach the port").arg(k));
                m_edges[condition].push_back((*seen - due) * 1e3);
                if (condition != 1) continue;
                if (const auto state = stateMessage(8, on, from))
                    m_portToState.push_back((state->at - *seen) * 1e3);
            }
        }
        // After a storm an old program may take long to end: it is given a minute, and timed.
        const bool stopped = condition >= 3
                                 ? stop(&m_afterStorms, 60s) || true // an end past a minute is a figure too
                                 : stop(condition ? &m_stops[condition - 1] : nullptr);
        if (steady) {
            steady->kill();
            steady->waitForFinished(5000);
        }
        m_broker.resume();
        return stopped;
    }

    void report() const
    {
        say(QStringLiteral("command (mosquitto_pub) to the port, ms: ") + summary(m_commandToPort));
        say(QStringLiteral("port write to the state message at the broker, ms: ") + summary(m_portToState));
        const char* names[] = {"MQTT off", "broker running", "broker stopped (SIGSTOP)"};
        for (int c = 0; c < 3; ++c)
            say(QStringLiteral("switching to the port, %1, ms: ").arg(QLatin1String(names[c])) +
                summary(m_edges[c]));
        say(QStringLiteral("SIGTERM to the end, broker running, ms: ") + summary(m_stops[0]));
        say(QStringLiteral("SIGTERM to the end, broker stopped, ms: ") + summary(m_stops[1]));
        if (!m_edges[3].empty()) {
            say(QStringLiteral("switching to the port, a burst of commands 0.3 s before each ON edge, ms: ") +
                summary(m_edges[3]) + QStringLiteral("; %1 edges not seen within 2.9 s").arg(m_missed[3]));
            say(QStringLiteral("a burst from its start to mosquitto_pub's end, s: ") +
                summary(m_burstSeconds));
        }
        if (!m_edges[4].empty())
            say(QStringLiteral("switching to the port, 20 commands a second%1, ms: ")
                    .arg(m_flushMs ? QStringLiteral(", %1 ms per flush").arg(m_flushMs) : QString()) +
                summary(m_edges[4]) + QStringLiteral("; %1 edges not seen within 2.9 s").arg(m_missed[4]));
        if (!m_stormStops.empty())
            say(QStringLiteral("SIGTERM 0.3 s into a burst of 100,000 commands to the end, ms: ") +
                summary(m_stormStops));
        if (!m_afterStorms.empty())
            say(QStringLiteral("SIGTERM right after a run with storms to the end, ms: ") +
                summary(m_afterStorms));
    }

private:
    bool fail(const QString& why)
    {
        say(QStringLiteral("failed: %1").arg(why));
        if (m_program) say(m_program->standardError());
        return false;
    }

    Sandbox m_box;
    Build m_build;
    QStringList m_arguments;
    Broker m_broker;
    std::unique_ptr<Subscriber> m_sub;
    std::unique_ptr<Program> m_program;
    int m_portFd = -1;
    std::vector<double> m_commandToPort, m_portToState;
    std::vector<double> m_edges[5], m_stops[2], m_stormStops, m_afterStorms, m_burstSeconds;
    int m_missed[5] = {};
    QString m_preload;
    int m_flushMs = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The MQTT link in the running kestra3."));
    parser.addHelpOption();
    const QCommandLineOption program(QStringLiteral("program"), QStringLiteral("kestra3 to run"),
                                     QStringLiteral("path"), QStringLiteral(KESTRA3_PATH));
    const QCommandLineOption commands(QStringLiteral("commands"), QStringLiteral("mode commands (20)"),
                                      QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption runs(QStringLiteral("runs"), QStringLiteral("runs of 10 switchings (1)"),
                                  QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption windows(QStringLiteral("windows"),
                                     QStringLiteral("with the windows (offscreen), not --headless"));
    const QCommandLineOption storm(
        QStringLiteral("storm"),
        QStringLiteral("only the command storms: bursts of n commands before each edge"),
        QStringLiteral("n"));
    const QCommandLineOption slowFlush(
        QStringLiteral("slow-flush"),
        QStringLiteral("with --storm: also 20 commands a second on a disk taking ms per fsync"),
        QStringLiteral("ms"));
    parser.addOptions({program, commands, runs, windows, storm, slowFlush});
    parser.process(app);

    Bench bench(parser.value(program), parser.isSet(windows));
    say(QStringLiteral("kestra3: %1 %2; %3 cores")
            .arg(parser.value(program), parser.isSet(windows) ? "(windows)" : "--headless")
            .arg(QThread::idealThreadCount()));
    if (parser.isSet(storm)) {
        if (!bench.prepare()) return 1;
        for (int r = 0; r < parser.value(runs).toInt(); ++r) {
            if (!bench.switchings(3, parser.value(storm).toInt()) || !bench.stormStop()) return 1;
        }
        if (parser.isSet(slowFlush)) {
            bench.setPreload(QStringLiteral(KESTRA_SLOWFLUSH_PATH), parser.value(slowFlush).toInt());
            for (int r = 0; r < parser.value(runs).toInt(); ++r)
                if (!bench.switchings(4) || !bench.stormStop()) return 1;
        }
        bench.report();
        return 0;
    }
    if (!bench.prepare() || !bench.commands(parser.value(commands).toInt())) return 1;
    for (int r = 0; r < parser.value(runs).toInt(); ++r)
        for (int c = 0; c < 3; ++c)
            if (!bench.switchings(c)) return 1;
    bench.report();
    return 0;
}
