// kestra-weekbench: what the week costs. Times the interval computation, the
// next switchings and the model's look after a scan, then samples the CPU of
// a real main window (offscreen, simulated port, temporary directories) with
// the view closed and with the view open.

#include "base/buildconfig.h"
#include "base/clock.h"
#include "logic/history/record.h"
#include "logic/week/intervals.h"
#include "logic/week/next.h"
#include "logic/week/weekmodel.h"
#include "model/channel.h"
#include "platform/port/port.h"
#include "service/service.h"
#include "shell/mainwindow.h"
#include "storage/store/database.h"
#include "views/channels/channelwindow.h"
#include "views/week/weekchart.h"
#include "views/week/weekview.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

using namespace kestra;

namespace {

// A week people might set: something on every output, channel 8 with all ten switchings.
const std::vector<std::pair<QString, QString>> kSettings = {
    {"Auto", "True"},      {"Mon1", "True"},        {"Tue1", "True"},        {"Wed1", "True"},
    {"Thr1", "True"},      {"Fri1", "True"},        {"Start1a", "07:00:00"}, {"Run1a", "01:00:00"},
    {"Off2", "True"},      {"Auto3", "True"},       {"Sun3", "True"},        {"Mon3", "True"},
    {"Tue3", "True"},      {"Wed3", "True"},        {"Thr3", "True"},        {"Fri3", "True"},
    {"Sat3", "True"},      {"Start3a", "12:00:00"}, {"Run3a", "00:30:00"},   {"Auto4", "True"},
    {"Mon4", "True"},      {"Wed4", "True"},        {"Fri4", "True"},        {"Start4a", "06:00:00"},
    {"Run4a", "01:00:00"}, {"Start4b", "18:00:00"}, {"Run4b", "02:00:00"},   {"On5", "True"},
    {"Auto6", "True"},     {"Sat6", "True"},        {"Sun6", "True"},        {"Start6a", "09:00:00"},
    {"Run6a", "03:00:00"}, {"Auto7", "True"},       {"Fri7", "True"},        {"Sat7", "True"},
    {"SAT7A", "True"},     {"SUN7A", "True"},       {"Start7a", "22:00:00"}, {"Run7a", "06:00:00"},
    {"Auto8", "True"},     {"Mon8", "True"},        {"Tue8", "True"},        {"Wed8", "True"},
    {"Thr8", "True"},      {"Fri8", "True"},
};

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

long wakeUps()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_nvcsw + r.ru_nivcsw;
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

template <typename F> double nanosecondsPer(int iterations, F&& f)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < iterations; ++i)
        f();
    return double(t.nsecsElapsed()) / iterations;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
        qputenv(var, home.filePath(QString::fromLatin1(var)).toLocal8Bit());
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("What the week view and the next switchings cost."));
    options.addHelpOption();
    options.addOption({QStringLiteral("seconds"), QStringLiteral("Length of each idle sample (default 30)."),
                       QStringLiteral("n"), QStringLiteral("30")});
    options.addOption({QStringLiteral("rounds"),
                       QStringLiteral("Rounds of the two idle samples (default 2)."), QStringLiteral("n"),
                       QStringLiteral("2")});
    options.process(app);
    const int sampleMs = options.value(QStringLiteral("seconds")).toInt() * 1000;
    const int rounds = options.value(QStringLiteral("rounds")).toInt();

    QDir().mkpath(home.filePath(QStringLiteral("XDG_RUNTIME_DIR")));
    const SystemClock clock;
    auto db = store::Database::open(home.filePath(QStringLiteral("Kestra3.db")), clock.now().date());
    db->writeSettings(store::FieldValues(kSettings.begin(), kSettings.end()));
    for (char s = 'a'; s <= 'j'; ++s)
        db->writeSettings({{QStringLiteral("Start8") + QLatin1Char(s), formatTime((8 + (s - 'a')) * 3600)},
                           {QStringLiteral("Run8") + QLatin1Char(s), QStringLiteral("00:15:00")}});
    port::Environment env;
    env.parportProcDir = home.filePath(QStringLiteral("no-parport"));
    env.simulatedPortPath = home.filePath(QStringLiteral("port-3BC"));
    port::Port port(0x3BC, env);
    service::Service service(model::Context{kestra3Config(), port, *db, clock},
                             home.filePath(QStringLiteral("History3BC.db")));
    shell::MainWindow main(service);
    main.load();
    main.show();
    runFor(1500);

    std::printf("kestra-weekbench, Qt %s, platform %s\n\n", qVersion(),
                qPrintable(QApplication::platformName()));

    // The computation: the eight outputs' weeks from their controls.
    std::vector<channels::ChannelControls> controls;
    for (int m = 1; m <= 8; ++m)
        controls.push_back(service.model().channel(m).controls());
    size_t sink = 0;
    const double weekNs = nanosecondsPer(20000, [&] {
        for (const channels::ChannelControls& c : controls)
            sink += week::weekOf(c).on.size();
    });
    std::vector<week::ChannelWeek> weeks;
    for (const channels::ChannelControls& c : controls)
        weeks.push_back(week::weekOf(c));
    const QDateTime now = QDateTime::currentDateTime();
    const double nextNs = nanosecondsPer(2000, [&] {
        for (const week::ChannelWeek& w : weeks)
            sink += week::nextSwitching(w, now).on;
    });
    week::WeekModel* model = main.weekModel();
    const double refreshNs = nanosecondsPer(20000, [&] { model->refresh(); });
    int intervals = 0;
    for (const week::ChannelWeek& w : weeks)
        intervals += int(w.on.size());
    std::printf("all eight outputs' ON intervals for a week (%d intervals): %8.1f us  %s\n", intervals,
                weekNs / 1000, weekNs < 1e6 ? "(under 1 ms: PASS)" : "(1 ms or more: FAIL)");
    std::printf("all eight next switchings, local time zone:          %8.1f us\n", nextNs / 1000);
    std::printf("the model's look after a scan, nothing changed:       %8.1f us  (x2 per second: %.4f %% of "
                "a core)\n\n",
                refreshNs / 1000, refreshNs * 2 / 1e9 * 100);

    // Idle: the whole program in this process, every timer running.
    week::WeekView* view = nullptr;
    main.showWeek();
    view = main.weekView();
    view->resize(1200, 500);
    PaintCounter counter;
    view->chart()->installEventFilter(&counter);
    view->hide();
    struct Sample
    {
        const char* name;
        double cpu = 0;
        double wakeUps = 0;
        int paints = 0;
        double seconds = 0;
    };
    // The week is looked at after every scan; what the program cost before it
    // had a week at all is in run-bench.sh's before/after idle figures.
    Sample samples[2] = {{"view closed"}, {"view open"}};
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < 2; ++k) {
            if (k == 1) {
                view->show();
                runFor(1000); // the first paint is not idle
            } else {
                view->hide();
            }
            const double cpu0 = processCpuSeconds();
            const long wake0 = wakeUps();
            const int paints0 = counter.paints;
            QElapsedTimer wall;
            wall.start();
            runFor(sampleMs);
            samples[k].seconds += wall.nsecsElapsed() / 1e9;
            samples[k].cpu += processCpuSeconds() - cpu0;
            samples[k].wakeUps += wakeUps() - wake0;
            samples[k].paints += counter.paints - paints0;
        }
    }
    std::printf("idle, %d x %d s each                CPU, %% of one core   wake-ups/s   paints of the week\n",
                rounds, sampleMs / 1000);
    for (const Sample& s : samples)
        std::printf("  %-22s %18.3f %14.1f %12d\n", s.name, s.cpu / s.seconds * 100, s.wakeUps / s.seconds,
                    s.paints);
    const double open = samples[1].cpu / samples[1].seconds * 100;
    std::printf("\nview open under 0.5 %% of a core: %s\n", open < 0.5 ? "PASS" : "FAIL");
    main.close();
    return sink == 0 ? 2 : 0;
}
