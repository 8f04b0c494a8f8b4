// kestra-attach-bench: other processes attached to the running switch through
// its API, measured from outside. Starts kestra3 --headless in temporary
// directories and times:
//  1. an edit sent by one attached client, seen by a second one (median of 100);
//  2. a program started to holding the running switch's state;
//  3. the CPU two attached programs take while nothing happens (60 s).
// `--client` runs one attached program: it says "attached" once it holds the state.

#include "base/buildconfig.h"
#include "client/remoteswitch.h"
#include "tests/support/sandbox.h"

#include "bench/benchsupport.h"
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace e2e;
using namespace kestra;

using namespace kestra::bench;

namespace {

int runClient()
{
    client::RemoteSwitch remote(kestra3Config());
    QObject::connect(&remote, &client::RemoteSwitch::attached, [] { say(QStringLiteral("attached")); });
    remote.start();
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("client"), QStringLiteral("Run one attached client.")});
    parser.addOption({QStringLiteral("edits"), QStringLiteral("Edits to time."), QStringLiteral("n"),
                      QStringLiteral("100")});
    parser.addOption({QStringLiteral("idle"), QStringLiteral("Seconds of idle CPU."), QStringLiteral("s"),
                      QStringLiteral("60")});
    parser.process(app);
    if (parser.isSet(QStringLiteral("client"))) return runClient();

    Sandbox box;
    {
        QSettings ini(box.iniPath(kestra3()), QSettings::IniFormat);
        ini.setValue(QStringLiteral("Api/Port"), 0);
    }
    qputenv("XDG_RUNTIME_DIR", box.runtime().toLocal8Bit());
    Program k(box, kestra3());
    k.setArguments({QStringLiteral("--headless")});
    if (!k.start() || !k.waitRunning()) {
        say(QStringLiteral("the service did not start: ") + k.standardError());
        return 1;
    }
    if (!waitUntil([&] { return QFileInfo::exists(box.runtime() + QStringLiteral("/kestra/kestra3-api.json")); },
                   5s))
        return 1;

    // 1. An edit in one client to the other's picture.
    client::RemoteSwitch a(kestra3Config()), b(kestra3Config());
    a.start();
    b.start();
    if (!waitUntil([&] { return a.isAttached() && b.isAttached(); }, 5s)) return 1;
    std::vector<double> edits;
    const int n = parser.value(QStringLiteral("edits")).toInt();
    for (int i = 0; i < n; ++i) {
        const bool ticked = !b.output(3).days[1];
        QElapsedTimer t;
        t.start();
        a.send({{"command", "day"}, {"output", 3}, {"day", 1}, {"ticked", ticked}});
        if (waitUntil([&] { return b.output(3).days[1] == ticked; }, 2s, 0))
            edits.push_back(double(t.nsecsElapsed()) / 1e6);
        QTest::qWait(20);
    }
    say(QStringLiteral("an edit in one attached client shown in another, ms: ") + summary(edits));

    // 2. A program started to holding the switch's state; 3. two of them idle.
    const QString self = QCoreApplication::applicationFilePath();
    std::vector<double> starts;
    std::vector<std::unique_ptr<QProcess>> clients;
    for (int i = 0; i < 10; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(box.environment());
        QElapsedTimer t;
        t.start();
        p->start(self, {QStringLiteral("--client")});
        QByteArray out;
        if (waitUntil([&] { return (out += p->readAllStandardOutput()).contains("attached"); }, 5s, 1))
            starts.push_back(double(t.nsecsElapsed()) / 1e6);
        clients.push_back(std::move(p));
        if (clients.size() > 2) {
            clients.front()->kill();
            clients.front()->waitForFinished();
            clients.erase(clients.begin());
        }
    }
    say(QStringLiteral("program started to holding the switch's state, ms: ") + summary(starts));

    // The window program itself, attached (offscreen), beside the two clients.
    for (int i = 0; i < 2; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(box.environment());
        p->start(kestra3().exe, QStringList());
        clients.push_back(std::move(p));
    }
    const int seconds = parser.value(QStringLiteral("idle")).toInt();
    QTest::qWait(3000);
    std::vector<long long> before;
    for (const auto& p : clients)
        before.push_back(cpuTicks(p->processId()));
    QTest::qWait(seconds * 1000);
    const double hz = double(::sysconf(_SC_CLK_TCK));
    for (size_t i = 0; i < clients.size(); ++i) {
        const double used = double(cpuTicks(clients[i]->processId()) - before[i]) / hz;
        say(QStringLiteral("idle attached %1 %2: %3 s of CPU in %4 s, %5 % of a core")
                .arg(i < 2 ? QStringLiteral("client") : QStringLiteral("window program"))
                .arg(i % 2 + 1)
                .arg(used, 0, 'f', 2)
                .arg(seconds)
                .arg(100.0 * used / seconds, 0, 'f', 3));
    }
    for (const auto& p : clients) {
        p->kill();
        p->waitForFinished();
    }
    k.terminate();
    return 0;
}
