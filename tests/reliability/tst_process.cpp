#include "reliability.h"
#include "tests/support/mosquitto.h"

#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <fcntl.h>
#include <sys/un.h>

// The process around the program: a standard error full and never read, or
// closed; each signal that ends a process; a file-size limit; the X server
// dying. Every trial ends with the outputs OFF, the control register clear and
// the lock gone; without windows, systemd's notify socket (a stand-in) hears
// READY=1 once the port is driven, WATCHDOG=1 and STOPPING=1 at the end.
// KESTRA_RELIABILITY_PROCESS sets the trials per row.

using namespace reliability;

namespace {

// 5 V is ON, so the data byte is the outputs ON: output 1 ON, output 3 ON from
// 12:00:00 on Mondays, six seconds after a start at kMonday (room for a slow start).
const Fields kFields{{"SOURCEPORT", "True"}, {"output", "1"},         {"On", "True"},       {"Auto3", "True"},
                     {"Mon3", "True"},       {"Start3a", "12:00:00"}, {"Run3a", "00:10:00"}};
const QString kMonday = QStringLiteral("2026-12-07 11:59:54");

void enableMqtt(const Sandbox& box, int port)
{
    QSettings ini(box.iniPath(kestra3()), QSettings::IniFormat);
    for (const auto& [key, value] : std::initializer_list<std::pair<QString, QVariant>>{
             {"Enabled", true}, {"Host", "127.0.0.1"}, {"Port", port}, {"Name", "rel"}})
        ini.setValue("MQTT/" + key, value);
}

// The end the program must reach within `within`: its own exit, port OFF, lock removed.
QString endProblem(Program& k, const Sandbox& box, int within, int exitCode = 0)
{
    if (!k.process().waitForFinished(within)) return QStringLiteral("still running (%1)").arg(said(k));
    const PortBytes p = box.port(kestra3());
    if (k.process().exitStatus() != QProcess::NormalExit || k.process().exitCode() != exitCode)
        return QStringLiteral("ended by signal or code %1, port %2")
            .arg(k.process().exitCode())
            .arg(describe(p));
    if (p.data != 0 || p.control != 0) return QStringLiteral("left the port at %1").arg(describe(p));
    return QFileInfo::exists(box.programDir() + "/Kestra3.lock") ? QStringLiteral("left its lock")
                                                                 : QString();
}

} // namespace

class TstProcess : public QObject
{
    Q_OBJECT

    Template m_database;

    QString trial(const QString& row, int sig)
    {
        Sandbox box;
        const Build b = kestra3();
        if (!m_database.copyTo(box, b) || !box.setFields(b, kFields) || !putPort(box, b, {0, 0x78, 0}))
            return QStringLiteral("cannot lay out the files");
        Program k(box, b);
        const bool headless = !row.contains(QLatin1String("windows"));
        if (headless) k.setArguments({"--headless"});
        const int systemd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un a{AF_UNIX, {}};
        qstrncpy(a.sun_path, qPrintable(box.runtime() + "/notify"), sizeof a.sun_path);
        ::bind(systemd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        k.setEnvironment("NOTIFY_SOCKET", a.sun_path);
        k.setEnvironment("WATCHDOG_USEC", "1000000");
        QStringList told;
        const auto heard = [&](const char* line) {
            char buffer[4096];
            for (ssize_t n; (n = ::recv(systemd, buffer, sizeof buffer, 0)) > 0;)
                told << QString::fromUtf8(buffer, n).split('\n');
            return told.contains(line);
        };
        mqtttest::Broker broker;
        int full[2] = {-1, -1};
        const auto closeFds = qScopeGuard([&] { ::close(full[0]), ::close(full[1]), ::close(systemd); });
        QProcess xvfb, flood;
        const auto stopXvfb = qScopeGuard([&] { xvfb.kill(), xvfb.waitForFinished(); });
        const bool edge = row.endsWith(QLatin1String("standard error"));
        // A schedule edge during the fault needs libfaketime, which deadlocks with
        // a sanitizer's runtime at the start: an instrumented program gets none.
        const bool timed = edge && !instrumented();
        if (row == "blocked standard error") {
            if (!broker.start() || ::pipe2(full, O_CLOEXEC | O_NONBLOCK) != 0) return "no broker or pipe";
            enableMqtt(box, broker.port());
            while (::write(full[1], "...", 3) > 0) { // full, and nobody reads it
            }
            ::fcntl(full[1], F_SETFL, 0); // a write waits, as on any pipe
            k.setChildSetup([w = full[1]] { ::dup2(w, 2); });
        } else if (edge) { // closed; the link to a port where nobody listens has something to say at once
            enableMqtt(box, mqtttest::loopback(0));
            k.setChildSetup([] { ::close(2); });
        } else if (row == "file-size limit") {
            k.setLauncher({"prlimit", "--fsize=65536"});
        } else if (row == "display dying (windows)") {
            // -displayfd: the server picks a free display and writes its number to descriptor 1.
            xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
            if (!xvfb.waitForReadyRead(10000)) return "Xvfb did not start";
            k.setEnvironment("QT_QPA_PLATFORM", "xcb");
            k.setEnvironment("DISPLAY", ":" + QString::fromLatin1(xvfb.readAllStandardOutput().trimmed()));
        }
        QElapsedTimer started;
        started.start();
        if (!k.start(timed ? kMonday : QString()) ||
            !waitUntil([&] { return box.port(b).data == 1; }, startBound(10s)))
            return QStringLiteral("did not start (%1)").arg(said(k));
        if (headless && !waitUntil([&] { return heard("READY=1"); }, startBound(5s)))
            return QStringLiteral("systemd was not told READY=1");
        if (row == "blocked standard error") { // three thousand commands for an output there is not
            flood.start("mosquitto_pub",
                        {"-p", QString::number(broker.port()), "-t", "kestra/rel/output/9/mode/set", "-l"});
            flood.waitForStarted();
            flood.write(QByteArray("ON\n").repeated(3000));
            flood.closeWriteChannel();
        }
        if (timed) {
            if (!waitUntil([&] { return box.port(b).data == 5; }, 10s, 1) ||
                started.elapsed() > 6000 + startBound(1500ms).count())
                return QStringLiteral("the switching came %1 ms late").arg(started.elapsed() - 6000);
        } else if (row ==
                   "file-size limit") { // input 1 changes at every scan until the history meets the limit
            bool on = false;
            if (!waitUntil(
                    [&] {
                        return box.writePort(b, 1, (on = !on) ? 0xF8 : 0x78),
                               k.standardError().contains("The history cannot be written");
                    },
                    90s, 300))
                return QStringLiteral("the limit was not said (%1)").arg(said(k));
        } else if (row == "display dying (windows)") {
            QTest::qWait(300);
            xvfb.kill();
            return endProblem(k, box, int(startBound(5s).count()), 1);
        }
        if (headless && !waitUntil([&] { return heard("WATCHDOG=1"); }, startBound(3s))) return "no WATCHDOG=1";
        k.signal(sig);
        const QString problem = endProblem(k, box, int(startBound(3s).count()));
        if (!problem.isEmpty() || !headless) return problem;
        return heard("STOPPING=1") ? QString() : "systemd was told " + told.join('|');
    }

private slots:
    void initTestCase() { QVERIFY2(m_database.make(kestra3()), qPrintable(m_database.error())); }

    void processFaults_data()
    {
        QTest::addColumn<int>("sig");
        for (const char* row :
             {"blocked standard error", "closed standard error", "windows, closed standard error",
              "file-size limit", "display dying (windows)"})
            QTest::newRow(row) << SIGTERM;
        for (int sig :
             {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPWR, SIGRTMIN + 2})
            for (const char* how : {"", "windows, "})
                QTest::addRow("%ssignal %d", how, sig) << sig;
    }
    void processFaults()
    {
        QFETCH(int, sig);
        const QString row = QString::fromLatin1(QTest::currentDataTag());
        if (libfaketime().isEmpty() || QStandardPaths::findExecutable("Xvfb").isEmpty())
            QSKIP("needs the Debian packages faketime and xvfb");
        std::vector<QString> results;
        for (int i = 0; i < int(setting("KESTRA_RELIABILITY_PROCESS", 1)); ++i)
            results.push_back(trial(row, sig));
        const QString text = summary(row, QStringLiteral("ended with the outputs OFF"), results);
        qInfo("%s", qPrintable(text));
        QVERIFY2(allPassed(results), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TstProcess)
#include "tst_process.moc"
