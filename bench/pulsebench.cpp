// kestra-pulse-bench: pulses channel 1 (or 2) of a complete kestra3 and measures
// each phase where a relay board would: on the data byte of the simulated port
// file, read by a second thread every ~0.1 ms. Run it from bench/run-bench.sh,
// which gives it fresh XDG directories and the offscreen platform.
//
//   kestra-pulse-bench [--channel 1|2] [PLAN...]
//
// A plan is ON/OFFxPAIRS with the list entries to select, for example ".5/1x12"
// (channel 1, seconds) or "1/1x2" (channel 2, minutes). Each plan starts pulse
// mode afresh and stops it after PAIRS ON and OFF phases. One line per phase:
//   phase <ON|OFF> <wanted ms> <measured ms>
// The program links the windows themselves, since pulse mode is started only by
// a click; it builds against the sources of any version that has them.

#include "base/buildconfig.h"
#include "base/clock.h"
#include "base/paths.h"
#include "logic/history/record.h"
#include "model/channel.h"
#include "platform/port/port.h"
#include "service/service.h"
#include "shell/mainwindow.h"
#include "storage/store/database.h"
#include "views/channels/channelwindow.h"
#include "views/channels/pulseframe.h"

#include "bench/benchsupport.h"
#include <QApplication>
#include <QListWidget>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kestra;

using namespace kestra::bench;

namespace {

void select(QListWidget* list, const QString& entry)
{
    const auto found = list->findItems(entry, Qt::MatchExactly);
    if (found.isEmpty()) {
        std::fprintf(stderr, "no entry \"%s\" in %s\n", qPrintable(entry), qPrintable(list->objectName()));
        std::exit(2);
    }
    list->setCurrentItem(found.first());
}

// Runs the event loop until `done` holds or `limitMs` has passed.
bool runUntil(const std::function<bool()>& done, qint64 limitMs)
{
    const qint64 end = monotonicNs() + limitMs * 1000000;
    while (!done()) {
        if (monotonicNs() > end) return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

struct Plan
{
    QString on, off;
    int pairs = 1;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int channel = 1;
    std::vector<Plan> plans;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--channel") && i + 1 < args.size()) {
            channel = args[++i].toInt();
            continue;
        }
        const QStringList onOff = args[i].section(QLatin1Char('x'), 0, 0).split(QLatin1Char('/'));
        const int pairs = args[i].section(QLatin1Char('x'), 1).toInt();
        if (onOff.size() != 2 || pairs < 1) {
            std::fprintf(stderr, "usage: kestra-pulse-bench [--channel 1|2] ON/OFFxPAIRS...\n");
            return 2;
        }
        plans.push_back({onOff[0], onOff[1], pairs});
    }
    if (channel != 1 && channel != 2) return 2;
    if (plans.empty()) plans.push_back(channel == 1 ? Plan{".5", "1", 10} : Plan{"1", "1", 1});

    const BuildConfig build = kestra3Config();
    QApplication::setApplicationName(build.title);
    if (const QString problem = ensureProgramDirectory(); !problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return 1;
    }
    const SystemClock clock;
    auto database = store::Database::open(build.databasePath(), clock.now().date());
    port::Environment env;
    env.simulatedPortPath = build.simulatedPortPath();
    port::Port port(build.portBase, env);
    service::Service service(model::Context{build, port, *database, clock}, history::historyPath(build));
    shell::MainWindow main(service);
    main.load();
    main.show();

    channels::PulseFrame* pulse = main.channelWindow(channel)->pulseFrame();
    model::Channel& model = service.model().channel(channel);
    const double unitMs = channel == 1 ? 1000.0 : 60000.0;
    PortWatch watch(build.simulatedPortPath(), channel - 1, monotonicNs);
    watch.start();
    // Let start-up writes settle before the first click.
    runUntil([] { return false; }, 1500);
    watch.take();

    int failures = 0;
    for (const Plan& plan : plans) {
        select(pulse->onList(), plan.on);
        select(pulse->offList(), plan.off);
        model.startPulse();
        const qsizetype wanted = 2 * plan.pairs + 1; // the click's edge, then the end of each phase
        const qint64 limit = qint64((plan.on.toDouble() + plan.off.toDouble()) * unitMs * plan.pairs) + 10000;
        const bool complete = runUntil([&] { return watch.pending() >= wanted; }, limit);
        model.stopPulse();
        runUntil([] { return false; }, 1200); // the channel's evaluation takes over again
        const std::vector<qint64> edges = watch.take();
        if (!complete) {
            std::fprintf(stderr, "plan %s/%s: %zu of %lld edges seen\n", qPrintable(plan.on),
                         qPrintable(plan.off), edges.size(), qlonglong(wanted));
            ++failures;
            continue;
        }
        for (qsizetype k = 0; k + 1 < wanted; ++k) {
            const bool on = k % 2 == 0;
            const double want = (on ? plan.on : plan.off).toDouble() * unitMs;
            std::printf("phase %s %.0f %.3f\n", on ? "ON" : "OFF", want,
                        double(edges[k + 1] - edges[k]) / 1e6);
        }
        std::fflush(stdout);
    }
    watch.stop();
    main.close();
    return failures ? 1 : 0;
}
