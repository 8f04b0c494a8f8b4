#include "reliability.h"
#include "tests/support/mosquitto.h"

#include <QSettings>
#include <QStandardPaths>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>

// What the process around the program does to it: a standard error nobody
// reads or that is closed, the signals that end a process, a file-size limit,
// the display going away, and the service manager listening. Each trial ends
// with every output OFF, the control register clear and the lock gone.
// KESTRA_RELIABILITY_PROCESS sets the trials of each row (1 by default).

using namespace reliability;

namespace {

const QString kMonday = QStringLiteral("2026-12-07 11:59:57");
// Channel 3 in AUTO on Mondays from 12:00:00: ON three seconds after a start at kMonday.
// 5 V is ON, so the data byte reads as the outputs that are ON; output 1 starts ON.
const Fields kEdge{{"SOURCEPORT", "True"}, {"output", "1"},         {"Auto", "False"},    {"On", "True"},
                   {"Off", "False"},       {"Auto3", "True"},       {"On3", "False"},     {"Off3", "False"},
                   {"Mon3", "True"},       {"Start3a", "12:00:00"}, {"Run3a", "00:10:00"}};
constexpr PortBytes kAllOff{0, 0x78, 0};

int trials()
{
    return int(setting("KESTRA_RELIABILITY_PROCESS", 1));
}

QString lockPath(const Sandbox& box)
{
    return box.programDir() + QStringLiteral("/Kestra3.lock");
}

// What is wrong with the end of a program asked (or forced) to end: it must be
// gone within `within`, by its own exit, with the port all OFF and the lock removed.
QString endProblem(Program& k, const Sandbox& box, std::chrono::milliseconds within, int exitCode = 0)
{
    if (!k.process().waitForFinished(int(within.count())))
        return QStringLiteral("still running %1 ms later (standard error: %2)")
            .arg(within.count())
            .arg(said(k));
    const Build b = kestra3();
    if (k.process().exitStatus() != QProcess::NormalExit)
        return QStringLiteral("killed by signal %1, port %2")
            .arg(k.process().exitCode())
            .arg(describe(box.port(b)));
    if (k.process().exitCode() != exitCode) return QStringLiteral("exit code %1").arg(k.process().exitCode());
    // The status register is the inputs' (the test may have left one ON).
    if (const PortBytes p = box.port(b); p.data != kAllOff.data || p.control != kAllOff.control)
        return QStringLiteral("left the port at %1").arg(describe(box.port(b)));
    if (QFileInfo::exists(lockPath(box))) return QStringLiteral("left its lock");
    return {};
}

// The last record of the history: a shutdown record (cause 9) for output 1 when the end was saved.
QString historyProblem(const Sandbox& box)
{
    const Connection c(box.programDir() + QStringLiteral("/History3BC.db"),
                       QStringLiteral("QSQLITE_OPEN_READONLY"));
    QSqlQuery q(c.db());
    if (!q.exec(QStringLiteral("SELECT causes FROM port_writes ORDER BY ms DESC LIMIT 1")) || !q.next())
        return QStringLiteral("no history: %1").arg(q.lastError().text());
    return (q.value(0).toLongLong() & 0xF) == 9 ? QString()
                                                : QStringLiteral("no shutdown record in the history");
}

// A pipe whose buffer is already full and whose reader never reads.
struct FullPipe
{
    int fds[2] = {-1, -1};
    FullPipe()
    {
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
        const QByteArray block(4096, 'x');
        while (::write(fds[1], block.constData(), size_t(block.size())) > 0) {
        }
    }
    ~FullPipe()
    {
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }
};

// A datagram socket standing in for systemd's notify socket.
struct NotifySocket
{
    int fd = -1;
    QString path;
    explicit NotifySocket(const QString& where) : path(where + QStringLiteral("/notify"))
    {
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        qstrncpy(a.sun_path, QFile::encodeName(path).constData(), sizeof a.sun_path);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~NotifySocket() { ::close(fd); }
    QStringList received;
    // Waits until a datagram holding `line` came.
    bool wait(const QString& line, std::chrono::milliseconds timeout)
    {
        return waitUntil(
            [&] {
                char buffer[4096];
                for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                    received << QString::fromUtf8(buffer, n).split(QLatin1Char('\n'));
                return received.contains(line);
            },
            timeout);
    }
};

} // namespace

class TstProcess : public QObject
{
    Q_OBJECT

    Template m_database;

    // A sandbox with the settings of kEdge (and `more`), the port as a former run left it.
    bool lay(const Sandbox& box, const Fields& more = {})
    {
        Fields f = kEdge;
        f.insert(f.end(), more.begin(), more.end());
        return m_database.copyTo(box, kestra3()) && box.setFields(kestra3(), f) &&
               putPort(box, kestra3(), {0, 0x78, 0});
    }

    static void enableMqtt(const Sandbox& box, int port)
    {
        QSettings ini(box.iniPath(kestra3()), QSettings::IniFormat);
        ini.setValue("MQTT/Enabled", true);
        ini.setValue("MQTT/Host", "127.0.0.1");
        ini.setValue("MQTT/Port", port);
        ini.setValue("MQTT/Name", "rel");
    }

    // The switching of channel 3 reaches the port within a second of its time
    // (three seconds after the start), then SIGTERM ends the program cleanly.
    static QString edgeThenEnd(Program& k, const Sandbox& box, const QElapsedTimer& started)
    {
        if (!waitUntil([&] { return box.port(kestra3()).data == 5; }, 10s, 1))
            return QStringLiteral("the switching never came (port %1; standard error: %2)")
                .arg(describe(box.port(kestra3())), said(k));
        if (started.elapsed() > 4500)
            return QStringLiteral("the switching came %1 ms late").arg(started.elapsed() - 3000);
        k.signal(SIGTERM);
        return endProblem(k, box, 2s);
    }

private slots:
    void initTestCase() { QVERIFY2(m_database.make(kestra3()), qPrintable(m_database.error())); }

    // Standard error is a pipe that is full and never read, while bad commands
    // pour in from the broker: the service still switches on time and ends.
    void blockedStandardError()
    {
        if (libfaketime().isEmpty()) QSKIP("libfaketime not found: install the Debian package faketime");
        std::vector<QString> results;
        for (int i = 0; i < trials(); ++i) {
            Sandbox box;
            mqtttest::Broker broker;
            if (!lay(box) || !broker.start()) QFAIL("cannot lay out the trial");
            enableMqtt(box, broker.port());
            FullPipe pipe;
            Program k(box, kestra3());
            k.setArguments({QStringLiteral("--headless")});
            const int writeEnd = pipe.fds[1];
            k.setChildSetup([writeEnd] { ::dup2(writeEnd, 2); });
            QElapsedTimer started;
            started.start();
            QVERIFY(k.start(kMonday));
            // Three thousand commands for an output that does not exist, one line each.
            QProcess pub;
            pub.start(QStringLiteral("mosquitto_pub"),
                      {"-p", QString::number(broker.port()), "-t", "kestra/rel/output/9/mode/set", "-l"});
            if (pub.waitForStarted()) {
                for (int n = 0; n < 3000; ++n)
                    pub.write("ON\n");
                pub.closeWriteChannel();
            }
            results.push_back(edgeThenEnd(k, box, started));
            pub.waitForFinished(5000);
        }
        const QString text = summary(QStringLiteral("blocked standard error"),
                                     QStringLiteral("switched on time and ended"), results);
        qInfo("%s", qPrintable(text));
        QVERIFY2(allPassed(results), qPrintable(text));
    }

    // Started with descriptor 2 closed (`2>&-`), with and without windows, while
    // the MQTT link has something to say: the program runs, switches and ends on SIGTERM.
    void closedStandardError()
    {
        if (libfaketime().isEmpty()) QSKIP("libfaketime not found: install the Debian package faketime");
        std::vector<QString> results;
        for (int i = 0; i < trials() * 2; ++i) {
            Sandbox box;
            if (!lay(box)) QFAIL("cannot lay out the trial");
            // Nobody listens there: "unreachable" is said at once.
            enableMqtt(box, mqtttest::loopback(0));
            Program k(box, kestra3());
            if (i % 2 == 0) k.setArguments({QStringLiteral("--headless")});
            k.setChildSetup([] { ::close(2); });
            QElapsedTimer started;
            started.start();
            QVERIFY(k.start(kMonday));
            results.push_back(edgeThenEnd(k, box, started));
        }
        const QString text = summary(QStringLiteral("closed standard error"),
                                     QStringLiteral("ran, switched and ended"), results);
        qInfo("%s", qPrintable(text));
        QVERIFY2(allPassed(results), qPrintable(text));
    }

    // Each signal that ends a process by default ends the program as SIGTERM
    // does, with and without windows.
    void terminatingSignals()
    {
        const std::vector<int> numbers{SIGTERM, SIGINT,    SIGHUP, SIGQUIT,      SIGUSR1,     SIGUSR2,
                                       SIGALRM, SIGVTALRM, SIGPWR, SIGRTMIN + 2, SIGRTMAX - 1};
        std::vector<QString> results;
        for (int i = 0; i < trials(); ++i)
            for (int sig : numbers)
                for (bool headless : {true, false}) {
                    Sandbox box;
                    if (!lay(box)) QFAIL("cannot lay out the trial");
                    Program k(box, kestra3());
                    if (headless) k.setArguments({QStringLiteral("--headless")});
                    QString problem;
                    if (!k.start() || !k.waitRunning())
                        problem = QStringLiteral("did not start: %1").arg(said(k));
                    else if (!waitUntil([&] { return box.port(kestra3()).data == 1; }, 5s))
                        problem = QStringLiteral("the stored byte was not put back");
                    else {
                        k.signal(sig);
                        problem = endProblem(k, box, 3s);
                    }
                    if (!problem.isEmpty())
                        problem =
                            QStringLiteral("signal %1 %2: %3")
                                .arg(sig)
                                .arg(headless ? QStringLiteral("(headless)") : QStringLiteral("(windows)"),
                                     problem);
                    results.push_back(problem);
                }
        const QString text =
            summary(QStringLiteral("terminating signals"), QStringLiteral("ended as SIGTERM does"), results);
        qInfo("%s", qPrintable(text));
        QVERIFY2(allPassed(results), qPrintable(text));
    }

    // `ulimit -f 64` with input 1 changing at every scan: the history meets the
    // limit, which is a write error said once, never the end of the program.
    void fileSizeLimit()
    {
        std::vector<QString> results;
        for (int i = 0; i < trials(); ++i) {
            Sandbox box;
            if (!lay(box)) QFAIL("cannot lay out the trial");
            Program k(box, kestra3());
            k.setArguments({QStringLiteral("--headless")});
            k.setLauncher({QStringLiteral("prlimit"), QStringLiteral("--fsize=65536")});
            QString problem;
            if (!k.start() || !k.waitRunning())
                problem = QStringLiteral("did not start: %1").arg(said(k));
            else if (bool on = false; !waitUntil(
                         [&] {
                             box.writePort(kestra3(), 1, (on = !on) ? 0xF8 : 0x78);
                             return k.standardError().contains(
                                        QLatin1String("The history cannot be written")) ||
                                    k.process().state() != QProcess::Running;
                         },
                         90s, 300))
                problem = QStringLiteral("the history never met the limit (standard error: %1)").arg(said(k));
            else if (k.process().state() != QProcess::Running)
                problem = QStringLiteral("ended at the limit: %1").arg(endProblem(k, box, 0s));
            else {
                k.signal(SIGTERM);
                problem = endProblem(k, box, 3s);
            }
            results.push_back(problem);
        }
        const QString text =
            summary(QStringLiteral("file-size limit"), QStringLiteral("said it and ran on"), results);
        qInfo("%s", qPrintable(text));
        QVERIFY2(allPassed(results), qPrintable(text));
    }

    // The window program on a private X server that is killed: it ends as on a
    // signal, the history closed with its shutdown record.
    void displayDying()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            QSKIP("Xvfb not found: install the Debian package xvfb");
        std::vector<QString> results;
        for (int i = 0; i < trials(); ++i) {
            Sandbox box;
            if (!lay(box)) QFAIL("cannot lay out the trial");
            QProcess xvfb;
            // -displayfd: the server picks a free display and writes its number to descriptor 1.
            xvfb.start(QStringLiteral("Xvfb"),
                       {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x800x24"});
            QByteArray display;
            waitUntil(
                [&] {
                    display += xvfb.readAllStandardOutput();
                    return display.contains('\n') || xvfb.state() == QProcess::NotRunning;
                },
                10s);
            if (!display.contains('\n')) QFAIL("Xvfb did not start");
            Program k(box, kestra3());
            k.setEnvironment(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            k.setEnvironment(QStringLiteral("DISPLAY"),
                             QLatin1Char(':') + QString::fromLatin1(display.trimmed()));
            QString problem;
            if (!k.start() || !k.waitRunning())
                problem = QStringLiteral("did not start: %1").arg(said(k));
            else if (!waitUntil([&] { return box.port(kestra3()).data == 1; }, 5s))
                problem = QStringLiteral("the stored byte was not put back");
            else {
                QTest::qWait(500);
                xvfb.kill();
                problem = endProblem(k, box, 5s, 1);
                if (problem.isEmpty()) problem = historyProblem(box);
            }
            xvfb.kill();
            xvfb.waitForFinished();
            results.push_back(problem);
        }
        const QString text =
            summary(QStringLiteral("display dying"), QStringLiteral("ended as on a signal"), results);
        qInfo("%s", qPrintable(text));
        QVERIFY2(allPassed(results), qPrintable(text));
    }

    // systemd's side of Type=notify: READY=1 once the port is driven, the
    // watchdog kept, STOPPING=1 at the end.
    void serviceManager()
    {
        Sandbox box;
        QVERIFY(lay(box));
        NotifySocket systemd(box.runtime());
        Program k(box, kestra3());
        k.setArguments({QStringLiteral("--headless")});
        k.setEnvironment(QStringLiteral("NOTIFY_SOCKET"), systemd.path);
        k.setEnvironment(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("2000000"));
        QVERIFY(k.start());
        QVERIFY2(systemd.wait(QStringLiteral("READY=1"), 10s), qPrintable(said(k)));
        QCOMPARE(box.port(kestra3()).data, 1); // driven before it said so
        QVERIFY2(systemd.received.contains(QStringLiteral("STATUS=Outputs ON: 1")),
                 qPrintable(systemd.received.join(QLatin1Char('|'))));
        QVERIFY(systemd.wait(QStringLiteral("WATCHDOG=1"), 3s));
        k.signal(SIGTERM);
        QVERIFY(systemd.wait(QStringLiteral("STOPPING=1"), 3s));
        QCOMPARE(endProblem(k, box, 3s), QString());
    }
};

QTEST_GUILESS_MAIN(TstProcess)
#include "tst_process.moc"
