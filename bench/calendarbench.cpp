// kestra-calendarbench: what the calendar costs and how exact it is.
//  1. sunrise and sunset from libnova against the NOAA Solar Calculator's
//     equations (tests/calendar/noaa.h), every day of a year, latitudes -65..65;
//  2. the week and next switchings of 8 outputs with every feature on: one
//     scan's look (WeekModel::refresh) and a recomputation of all eight;
//  3. schedule-to-port latency with every feature on: the headless switch
//     (service, simulated port, temporary directories) and a thread that reads
//     the port file every 0.1 ms.

#include "base/buildconfig.h"
#include "base/clock.h"
#include "base/paths.h"
#include "logic/calendar/plan.h"
#include "logic/calendar/sun.h"
#include "logic/history/record.h"
#include "logic/week/intervals.h"
#include "logic/week/next.h"
#include "logic/week/weekmodel.h"
#include "model/channel.h"
#include "platform/port/port.h"
#include "service/service.h"
#include "storage/store/database.h"
#include "tests/calendar/noaa.h"

#include "bench/benchsupport.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace kestra;
using namespace kestra::calendar;

using namespace kestra::bench;

namespace {

void wait(qint64 ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(std::ceil(p * double(v.size())) - 1))];
}

void summary(const char* what, const std::vector<double>& v, const char* unit)
{
    std::printf("%-46s n %5zu  min %8.3f  median %8.3f  p95 %8.3f  max %8.3f %s\n", what, v.size(),
                v.empty() ? 0 : *std::min_element(v.begin(), v.end()), percentile(v, 0.5),
                percentile(v, 0.95), v.empty() ? 0 : *std::max_element(v.begin(), v.end()), unit);
}

// 1. Sun times against the independent reference.
void sunAccuracy(int year)
{
    std::vector<double> rise, set;
    int missingBoth = 0, missingOne = 0;
    double worst = 0;
    QString worstAt;
    for (int lat = -65; lat <= 65; lat += 5) {
        for (double lon : {-150.0, -75.0, 0.0, 13.4, 151.2}) {
            // A zone whose midnight is near the sun's, so a local date holds its own rise and set.
            const QTimeZone zone(int(std::lround(lon / 15.0)) * 3600);
            for (QDate d(year, 1, 1); d.year() == year; d = d.addDays(1)) {
                const SunDay s = computeSunDay({true, double(lat), lon, {}}, Twilight::Official, d, zone);
                const double noon = double(QDateTime(d, QTime(12, 0), zone).toSecsSinceEpoch());
                const auto r = noaa::event(noon, lat, lon, horizonOf(Twilight::Official), true);
                const auto t = noaa::event(noon, lat, lon, horizonOf(Twilight::Official), false);
                for (auto [mine, ref, out] : {std::tuple{s.rise, r, &rise}, std::tuple{s.set, t, &set}}) {
                    if (!mine && !ref) {
                        ++missingBoth;
                        continue;
                    }
                    if (!mine || !ref) {
                        ++missingOne;
                        continue;
                    }
                    const double diff = std::abs(double(*mine) - *ref);
                    out->push_back(diff);
                    if (diff > worst) {
                        worst = diff;
                        worstAt = QStringLiteral("%1 %2 %3").arg(lat).arg(lon).arg(d.toString(Qt::ISODate));
                    }
                }
            }
        }
    }
    std::printf(
        "1. sunrise and sunset, libnova vs NOAA equations, %d, latitudes -65..65 step 5, 5 longitudes\n",
        year);
    summary("   |sunrise difference|", rise, "s");
    summary("   |sunset difference|", set, "s");
    std::printf("   worst %.1f s at %s; no event in either: %d; in one only: %d\n", worst,
                qPrintable(worstAt), missingBoth, missingOne);
}

Settings everyFeature(quint8 holidayOutputs, const QDate& today)
{
    Settings s;
    s.place = {true, 52.52, 13.405, QStringLiteral("Berlin")};
    s.twilight = Twilight::Civil;
    s.seed = 42;
    for (int m = 1; m <= 8; ++m) {
        OutputCalendar& o = s.outputs[m - 1];
        o.presenceMinutes = m == 3 ? 0 : 10;
        Anchor sunset{Anchor::Kind::Sunset, -15 * 60, 17 * 3600, {}};
        Anchor sunrise{Anchor::Kind::Sunrise, 30 * 60, {}, 8 * 3600};
        for (int k = 0; k < 10; ++k)
            o.switchings.push_back(k % 2 ? SwitchingAnchors{sunset, Anchor::run()}
                                         : SwitchingAnchors{{}, sunrise});
    }
    s.holidays.push_back({QStringLiteral("Christmas"), QDate(2026, 12, 24), QDate(2027, 1, 6), true, 0xff,
                          Holiday::Action::Off});
    s.holidays.push_back(
        {QStringLiteral("today"), today, today, false, holidayOutputs, Holiday::Action::AsSunday});
    for (int i = 0; i < 50; ++i)
        s.holidays.push_back({QStringLiteral("h%1").arg(i), QDate(2027, 2, 1).addDays(i * 5),
                              QDate(2027, 2, 2).addDays(i * 5), i % 2 == 0, 0x0f, Holiday::Action::On});
    return s;
}

void setUpChannels(model::SwitchModel& model, const QDate& today)
{
    const int day = weekdayNumber(today) - 1;
    for (int m = 1; m <= 8; ++m) {
        model::Channel& c = model.channel(m);
        c.selectMode(channels::Mode::Auto);
        for (int d = 0; d < 7; ++d)
            c.clickDay(d, d == day || d == (day + 2) % 7);
        if (m == 7)
            for (int d = 0; d < 7; ++d)
                c.clickFinishDay(d, true);
        for (int k = 0; k < c.timeCount(); ++k)
            c.editTime(k, k % 2 ? QStringLiteral("01:00:00")
                                : QStringLiteral("%1:00:00").arg(6 + k / 2, 2, 10, QLatin1Char('0')));
        c.ok();
    }
}

// 2. The next switchings of 8 outputs per scan.
void nextSwitchings(service::Service& service, const QDate& today)
{
    service.model().setCalendar(std::make_shared<const Settings>(everyFeature(0x80, today)));
    std::vector<double> scan, full;
    for (int i = 0; i < 2000; ++i) {
        QElapsedTimer t;
        t.start();
        service.refreshWeek();
        scan.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    const QDateTime now = QDateTime::currentDateTime();
    const auto settings = service.model().calendar();
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer t;
        t.start();
        for (int m = 1; m <= 8; ++m) {
            const week::ChannelWeek w =
                week::weekOf(service.model().channel(m).controls(), settings.get(), now);
            volatile auto next = week::nextSwitching(w, now).kind;
            (void)next;
        }
        full.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("2. next switchings of 8 outputs, every feature on\n");
    summary("   one scan's look (WeekModel::refresh)", scan, "ms");
    summary("   all 8 weeks and next switchings recomputed", full, "ms");
    for (int m = 1; m <= 8; ++m)
        std::printf("   output %d: %s\n", m, qPrintable(week::nextSwitchingText(service.week().next(m))));
}

// 3. Schedule-to-port latency: output 3 starts at "sunset", held by its limits
// at a second just ahead, and runs 2 s (ON due the second after, OFF at the end).
void latency(service::Service& service, const BuildConfig& build, int runs)
{
    model::Channel& c = service.model().channel(3);
    c.editTime(1, QStringLiteral("00:00:03"));
    c.ok();
    PortWatch watch(build.simulatedPortPath(), 2, realNs);
    watch.start();
    wait(1500);
    watch.take();
    std::vector<double> lat;
    int missing = 0;
    for (int r = 0; r < runs; ++r) {
        const QDateTime now = QDateTime::currentDateTime();
        const QDateTime start = now.addSecs(3).addMSecs(-now.time().msec());
        Settings s = everyFeature(0x80, now.date());
        const int at = start.time().msecsSinceStartOfDay() / 1000;
        s.outputs[2].switchings = {{Anchor{Anchor::Kind::Sunset, 0, at, at}, Anchor::run()}};
        service.model().saveCalendar(s);
        wait(7000); // OFF is due 6 s after the save at the latest
        const std::vector<qint64> edges = watch.take();
        if (edges.size() != 2) {
            std::fprintf(stderr, "run %d: %zu edges, due %s\n", r, edges.size(),
                         qPrintable(start.time().toString(QStringLiteral("hh:mm:ss"))));
            for (qint64 e : edges)
                std::fprintf(stderr, "   edge at %.3f s after the start\n",
                             double(e - start.toMSecsSinceEpoch() * 1000000LL) / 1e9);
            ++missing;
            continue;
        }
        const qint64 due[2] = {(start.toSecsSinceEpoch() + 1) * 1000000000LL,
                               (start.toSecsSinceEpoch() + 3) * 1000000000LL};
        for (int e = 0; e < 2; ++e)
            lat.push_back(double(edges[e] - due[e]) / 1e6);
    }
    watch.stop();
    std::printf("3. schedule-to-port latency, output 3 at \"sunset\" with every feature on, %d runs\n", runs);
    summary("   edge seen on the port minus its second", lat, "ms");
    if (missing) std::printf("   runs without exactly two edges: %d\n", missing);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = args.contains(QStringLiteral("--quick")) ? 3 : 15;
    sunAccuracy(2026);

    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    const BuildConfig build = kestra3Config();
    QCoreApplication::setApplicationName(build.title);
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
    service.start();
    setUpChannels(service.model(), clock.now().date());
    nextSwitchings(service, clock.now().date());
    latency(service, build, runs);
    service.stop();
    return 0;
}
