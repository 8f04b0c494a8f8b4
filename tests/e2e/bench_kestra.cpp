// kestra-bench: how promptly kestra3 switches, and what it costs while idle.
// Not a test: it prints numbers. It starts kestra3 in a sandbox with channel 8
// set to ten one-second switchings a few seconds ahead, polls the simulated
// port every few milliseconds, and reports the delay of each data byte change
// after its scheduled second; then it samples the process's CPU time from
// /proc/<pid>/stat over an idle period.
//
//   kestra-bench [--idle-seconds N] [--poll-ms N] [--faketime]
//
// By default the program runs on the real clock, as it does in use. With
// --faketime it runs under libfaketime as the end-to-end tests do; libfaketime
// then shifts the monotonic clock too, which lines the program's 500 ms timers
// up with the faked whole seconds.

#include "sandbox.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QTime>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace e2e;

namespace {

constexpr int kSwitchings = 10;
constexpr int kChanges = 2 * kSwitchings;
// Time for the program to come up before the first switching.
constexpr qint64 kLeadMs = 4000;

// utime + stime of a process in clock ticks, from /proc/<pid>/stat.
std::optional<qint64> cpuTicks(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray stat = f.readAll();
    // The command name may hold blanks; the fields after it are fixed.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0) return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 13) return std::nullopt;
    return fields[11].toLongLong() + fields[12].toLongLong(); // fields 14 and 15 of the whole line
}

int fail(const QString& what)
{
    std::fprintf(stderr, "kestra-bench: %s\n", qPrintable(what));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Switching latency and idle CPU of kestra3."));
    parser.addHelpOption();
    const QCommandLineOption idleOption(QStringLiteral("idle-seconds"),
                                        QStringLiteral("Idle sampling period."), QStringLiteral("N"),
                                        QStringLiteral("30"));
    const QCommandLineOption pollOption(QStringLiteral("poll-ms"), QStringLiteral("Port polling period."),
                                        QStringLiteral("N"), QStringLiteral("5"));
    const QCommandLineOption fakeOption(QStringLiteral("faketime"),
                                        QStringLiteral("Run under libfaketime, as the end-to-end tests do."));
    parser.addOptions({idleOption, pollOption, fakeOption});
    parser.process(app);
    const int idleSeconds = std::max(1, parser.value(idleOption).toInt());
    const int pollMs = std::max(1, parser.value(pollOption).toInt());
    const bool fake = parser.isSet(fakeOption);
    if (fake && libfaketime().isEmpty())
        return fail(QStringLiteral("libfaketime not found: install the Debian package faketime"));

    Sandbox box;
    const Build b = kestra3();
    {
        Program first(box, b);
        if (!first.start() || !first.waitRunning() || !first.terminate())
            return fail(QStringLiteral("kestra3 did not start and stop"));
    }

    // The sandbox runs the program in UTC. The first switching is a whole second
    // far enough ahead for the program to come up; under faketime the program's
    // clock starts at that second minus the lead.
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    const qint64 firstDueMs = (nowMs + kLeadMs) / 1000 * 1000 + 1000;
    const QDateTime first = QDateTime::fromMSecsSinceEpoch(firstDueMs, Qt::UTC);
    if (first.date() != first.addSecs(kChanges + 1).date())
        return fail(QStringLiteral("too close to midnight (UTC); try again in a minute"));

    // Channel 8 in AUTO every day; switching k is ON for the single second
    // first + 2k (run 00:00:00, both ends included), so the byte changes once
    // a second: ON on the even seconds, OFF on the odd ones.
    Fields fields{{QStringLiteral("SOURCEPORT"), QStringLiteral("True")},
                  {QStringLiteral("output"), QStringLiteral("0")},
                  {QStringLiteral("Auto8"), QStringLiteral("True")}};
    for (const char* day : {"Sun8", "Mon8", "Tue8", "Wed8", "Thr8", "Fri8", "Sat8"})
        fields.push_back({QLatin1String(day), QStringLiteral("True")});
    for (int k = 0; k < kSwitchings; ++k) {
        const QChar letter = QLatin1Char(char('a' + k));
        fields.push_back(
            {QStringLiteral("Start8") + letter, first.time().addSecs(2 * k).toString(u"HH:mm:ss")});
        fields.push_back({QStringLiteral("Run8") + letter, QStringLiteral("00:00:00")});
    }
    QString error;
    if (!box.setFields(b, fields, &error) || !box.writePort(b, 0, 0)) return fail(error);

    Program k(box, b);
    const qint64 startMs = QDateTime::currentMSecsSinceEpoch();
    // Under faketime the program's clock starts when the process does: the
    // switching second is due that long after the start as on the real clock.
    const QString fakeStart = fake ? QDateTime::fromMSecsSinceEpoch(firstDueMs - kLeadMs - 1000, Qt::UTC)
                                         .toString(u"yyyy-MM-dd HH:mm:ss")
                                   : QString();
    const qint64 dueBaseMs = fake ? startMs + kLeadMs + 1000 : firstDueMs;
    if (!k.start(fakeStart)) return fail(QStringLiteral("kestra3 did not start"));
    if (!k.waitRunning(std::chrono::milliseconds(kLeadMs)) ||
        QDateTime::currentMSecsSinceEpoch() >= dueBaseMs)
        return fail(QStringLiteral("kestra3 took too long to start"));
    const qint64 upMs = QDateTime::currentMSecsSinceEpoch() - startMs;

    std::vector<qint64> delays;
    int last = 0;
    waitUntil(
        [&] {
            const PortBytes p = box.port(b);
            if (p.control == 2 && p.data >= 0 && p.data != last) {
                last = p.data;
                delays.push_back(QDateTime::currentMSecsSinceEpoch() -
                                 (dueBaseMs + 1000 * qint64(delays.size())));
            }
            return int(delays.size()) >= kChanges;
        },
        std::chrono::milliseconds(dueBaseMs - QDateTime::currentMSecsSinceEpoch() + 1000 * (kChanges + 3)),
        pollMs);
    if (int(delays.size()) < kChanges)
        return fail(
            QStringLiteral("the byte changed %1 times instead of %2").arg(delays.size()).arg(kChanges));

    // Idle: nothing left to switch for hours.
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    const auto before = cpuTicks(k.pid());
    QElapsedTimer idle;
    idle.start();
    waitUntil([] { return false; }, std::chrono::seconds(idleSeconds), 200);
    const auto after = cpuTicks(k.pid());
    const double idleWall = double(idle.elapsed()) / 1000.0;
    if (!before || !after) return fail(QStringLiteral("cannot read /proc/%1/stat").arg(k.pid()));
    QElapsedTimer stopping;
    stopping.start();
    const bool stopped = k.terminate();

    std::vector<qint64> sorted = delays;
    std::sort(sorted.begin(), sorted.end());
    qint64 sum = 0;
    for (qint64 d : delays)
        sum += d;
    std::printf("clock: %s\n", fake ? "libfaketime (monotonic clock shifted too)" : "real");
    std::printf("start-up until the control register reads 2: %lld ms\n", (long long)upMs);
    std::printf("switching latency over %d changes (port polled every %d ms):\n", kChanges, pollMs);
    std::printf("  min %lld ms, median %lld ms, mean %.1f ms, max %lld ms\n", (long long)sorted.front(),
                (long long)sorted[sorted.size() / 2], double(sum) / double(delays.size()),
                (long long)sorted.back());
    std::printf("  each:");
    for (qint64 d : delays)
        std::printf(" %lld", (long long)d);
    std::printf("\n");
    const double cpuSeconds = double(*after - *before) / double(ticksPerSecond);
    std::printf("idle CPU over %.1f s: %.2f s, %.2f %% of one core\n", idleWall, cpuSeconds,
                100.0 * cpuSeconds / idleWall);
    std::printf("SIGTERM to exit: %lld ms%s\n", (long long)stopping.elapsed(),
                stopped ? "" : " (did not end)");
    return 0;
}
