#include "base/tickaim.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QTest>
#include <cmath>
#include <vector>

using namespace kestra;
using ms = TickAim::ms;

namespace {
// An aim taken at `wall` (ms after the row's base) and `mono`, and what it must give.
struct Step
{
    qint64 wall;
    qint64 mono;
    qint64 moment; // ms after the base
    qint64 delay;
    bool realigned;
};

const qint64 kNoon = QDateTime(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();
constexpr qint64 kHour = 3600 * 1000;

std::vector<ms> periods(const QList<int>& list)
{
    std::vector<ms> out;
    for (int p : list)
        out.push_back(ms(p));
    return out;
}
} // namespace

Q_DECLARE_METATYPE(QList<Step>)

class TstTickAim : public QObject
{
    Q_OBJECT
private slots:
    void aims_data()
    {
        QTest::addColumn<qint64>("base");
        QTest::addColumn<QList<int>>("periods");
        QTest::addColumn<QList<Step>>("steps");
        const QList<int> channels{500};
        const QList<int> all{200, 500, 1000};
        QTest::newRow("first aim: just after the second")
            << kNoon << channels << QList<Step>{{0, 0, 5, 5, true}};
        QTest::newRow("first aim just before the lead")
            << kNoon << channels << QList<Step>{{4, 0, 5, 1, true}};
        QTest::newRow("first aim on a grid point: the next one")
            << kNoon << channels << QList<Step>{{5, 0, 505, 500, true}};
        QTest::newRow("each moment on time") << kNoon << channels
                                             << QList<Step>{{0, 0, 5, 5, true},
                                                            {6, 6, 505, 499, false},
                                                            {506, 506, 1005, 499, false},
                                                            {1007, 1007, 1505, 498, false}};
        QTest::newRow("inputs, channels and logo share one grid")
            << kNoon << all << QList<Step>{{0, 0, 5, 5, true},          {5, 5, 205, 200, false},
                                           {206, 206, 405, 199, false}, {405, 405, 505, 100, false},
                                           {506, 506, 605, 99, false},  {605, 605, 805, 200, false},
                                           {805, 805, 1005, 200, false}};
        QTest::newRow("late by less than a grid step: nothing skipped")
            << kNoon << QList<int>{200, 500} << QList<Step>{{0, 0, 5, 5, true}, {150, 150, 205, 55, false}};
        QTest::newRow("late by more than a grid step: what passed is not caught up")
            << kNoon << QList<int>{200, 500} << QList<Step>{{0, 0, 5, 5, true}, {420, 420, 505, 85, false}};
        QTest::newRow("wall clock slewed 2 ms behind: still the next moment")
            << kNoon << channels << QList<Step>{{0, 0, 5, 5, true}, {3, 5, 505, 502, false}};
        QTest::newRow("step forward 0.3 s: the next half second")
            << kNoon << channels
            << QList<Step>{{0, 0, 5, 5, true}, {5, 5, 505, 500, false}, {805, 505, 1005, 200, true}};
        QTest::newRow("step back 0.3 s: the half second comes again")
            << kNoon << channels
            << QList<Step>{{0, 0, 5, 5, true}, {5, 5, 505, 500, false}, {205, 505, 505, 300, true}};
        QTest::newRow("step forward 1 h")
            << kNoon << channels
            << QList<Step>{
                   {0, 0, 5, 5, true}, {5, 5, 505, 500, false}, {kHour + 507, 505, kHour + 1005, 498, true}};
        QTest::newRow("step back 1 h") << kNoon << channels
                                       << QList<Step>{{0, 0, 5, 5, true},
                                                      {5, 5, 505, 500, false},
                                                      {-kHour + 520, 505, -kHour + 1005, 485, true},
                                                      {-kHour + 1005, 990, -kHour + 1505, 500, false}};
        QTest::newRow("resume after 10 min of suspend (monotonic stood still)")
            << kNoon << all << QList<Step>{{5, 5, 205, 200, true}, {600205, 205, 600405, 200, true}};
        // A fake clock in a test does not move: the ticks must not race.
        QTest::newRow("a wall clock that stands still") << kNoon << QList<int>{200, 500}
                                                        << QList<Step>{{0, 0, 5, 5, true},
                                                                       {0, 5, 205, 205, false},
                                                                       {0, 210, 5, 5, true},
                                                                       {0, 215, 205, 205, false}};
        QTest::newRow("a clock set before 1970")
            << qint64(-1000) << channels << QList<Step>{{0, 0, 5, 5, true}, {7, 7, 505, 498, false}};
    }
    void aims()
    {
        QFETCH(qint64, base);
        QFETCH(QList<int>, periods);
        QFETCH(QList<Step>, steps);
        TickAim aim;
        const std::vector<ms> p = ::periods(periods);
        for (const Step& s : steps) {
            const TickAim::Shot shot = aim.next(base + s.wall, s.mono, p);
            const QString at = QStringLiteral("aim at %1").arg(s.wall);
            QVERIFY2(shot.moment - base == s.moment,
                     qPrintable(at + QStringLiteral(": moment %1").arg(shot.moment - base)));
            QVERIFY2(shot.delay.count() == s.delay,
                     qPrintable(at + QStringLiteral(": delay %1").arg(shot.delay.count())));
            QVERIFY2(shot.realigned == s.realigned, qPrintable(at));
        }
    }

    // Whatever the clocks do, a tick is aimed at a point of the grid, never in the past,
    // and never further than the shortest period (plus a tolerated drift) ahead; after a
    // step of the wall clock it is aimed again from the present.
    void anyStepRealignsWithinOnePeriod()
    {
        QRandomGenerator rng(13);
        const std::vector<ms> p{ms(200), ms(500), ms(1000)};
        TickAim aim;
        double wall = double(kNoon + 123); // the wall clock to a fraction of a millisecond
        qint64 mono = 1000;
        for (int i = 0; i < 20000; ++i) {
            const bool step = rng.bounded(10) == 0;
            const qint64 stepMs = step ? qint64(rng.bounded(4 * kHour)) - 2 * kHour : 0;
            wall += double(stepMs);
            const qint64 wallMs = qint64(std::floor(wall));
            const TickAim::Shot shot = aim.next(wallMs, mono, p);
            QVERIFY(shot.moment > wallMs);
            QCOMPARE(shot.delay.count(), shot.moment - wallMs);
            QVERIFY(aim.onGrid(shot.moment, ms(200)) || aim.onGrid(shot.moment, ms(500)));
            QVERIFY2(shot.delay <= ms(200) + TickAim::kStepTolerance,
                     qPrintable(QString::number(shot.delay.count())));
            if (i > 0 && std::abs(stepMs) > TickAim::kStepTolerance.count() + 2) QVERIFY(shot.realigned);
            if (i > 0 && !step) QVERIFY(!shot.realigned);
            // The next aim comes when this one is due, up to 300 ms late, the wall clock
            // running up to 500 ppm off the monotonic one.
            const qint64 elapsed = shot.delay.count() + rng.bounded(300);
            mono += elapsed;
            wall += double(elapsed) * (1.0 + (rng.bounded(1001) - 500) * 1e-6);
        }
    }
};

QTEST_APPLESS_MAIN(TstTickAim)
#include "tst_tickaim.moc"
