#include "base/clock.h"
#include "base/ticker.h"

#include <QTest>
#include <memory>

using namespace kestra;
using namespace std::chrono_literals;

namespace {
// The system clock, set forward or back by the test.
class SteppedClock final : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime().addMSecs(shift); }
    qint64 shift = 0;
};

// Timers as the windows have them, each noting in which moment it ticked.
struct Rig
{
    explicit Rig(const Clock& clock) : ticker(clock)
    {
        add("inputs", 200ms, Ticker::Rank::Inputs);
        add("scan", 500ms, Ticker::Rank::Scan);
        add("channel 1", 500ms, Ticker::Rank::Channels);
        add("channel 2", 500ms, Ticker::Rank::Channels);
    }
    void add(const QString& name, std::chrono::milliseconds period, Ticker::Rank rank)
    {
        auto t = std::make_unique<QTimer>();
        t->setInterval(period);
        ticker.attach(t.get(), rank, [this, name] { log << qMakePair(ticker.moments(), name); });
        timers[name] = t.get();
        owned.push_back(std::move(t));
    }
    void startAll()
    {
        for (QTimer* t : timers)
            t->start();
    }
    QStringList ticksOf(quint64 moment) const
    {
        QStringList out;
        for (const auto& [m, name] : log)
            if (m == moment) out << name;
        return out;
    }
    int count(const QString& name) const
    {
        int n = 0;
        for (const auto& entry : log)
            n += entry.second == name;
        return n;
    }

    Ticker ticker;
    std::vector<std::unique_ptr<QTimer>> owned;
    QMap<QString, QTimer*> timers;
    QList<QPair<quint64, QString>> log;
};
} // namespace

class TstTicker : public QObject
{
    Q_OBJECT
private slots:
    // Every tick comes in a moment of the grid, and a moment runs the inputs
    // first, then the channels in their order, then the scan.
    void oneWakeUpServesAllInOrder()
    {
        SystemClock clock;
        Rig rig(clock);
        rig.startAll();
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("scan") >= 4, 5000);
        for (const auto& [moment, name] : rig.log)
            QVERIFY2(moment > 0, qPrintable(name + " ticked outside a moment"));
        int both = 0;
        for (quint64 m = 1; m <= rig.ticker.moments(); ++m) {
            const QStringList ticks = rig.ticksOf(m);
            if (ticks.contains("scan")) {
                QCOMPARE(ticks.mid(ticks.size() - 3), (QStringList{"channel 1", "channel 2", "scan"}));
                both += ticks.first() == "inputs";
            } else {
                QCOMPARE(ticks, QStringList{"inputs"});
            }
        }
        // The whole second serves inputs and channels in one wake-up.
        QVERIFY(both >= 1);
        for (QTimer* t : rig.timers) {
            QVERIFY(t->isActive());
            QCOMPARE(t->timerType(), Qt::PreciseTimer);
        }
        QCOMPARE(rig.timers["scan"]->interval(), 500);
    }

    // A timer that its window stops is left alone while the others go on; started
    // again, it joins the grid.
    void aStoppedTimerStaysStopped()
    {
        SystemClock clock;
        Rig rig(clock);
        rig.startAll();
        rig.timers["channel 1"]->stop();
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("channel 2") >= 2, 5000);
        QCOMPARE(rig.count("channel 1"), 0);
        QVERIFY(!rig.timers["channel 1"]->isActive());
        rig.timers["channel 1"]->start();
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("channel 1") >= 2, 5000);
        const quint64 last = rig.log.last().first;
        QVERIFY(rig.ticksOf(last).contains("channel 2") == rig.ticksOf(last).contains("channel 1"));
    }

    // The wall clock stepping either way neither stops the ticks nor makes them
    // race: the grid is found again at the next moment.
    void wallClockStepsAreFollowed_data()
    {
        QTest::addColumn<qint64>("stepMs");
        QTest::newRow("an hour back") << qint64(-3600000);
        QTest::newRow("0.3 s ahead") << qint64(300);
    }
    void wallClockStepsAreFollowed()
    {
        QFETCH(qint64, stepMs);
        SteppedClock clock;
        Rig rig(clock);
        rig.startAll();
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("scan") >= 1, 5000);
        QCOMPARE(rig.ticker.realignments(), quint64(1)); // the first aim only
        clock.shift += stepMs;
        const int before = rig.count("scan");
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("scan") >= before + 2, 3000);
        QCOMPARE(rig.ticker.realignments(), quint64(2));
    }
};

QTEST_GUILESS_MAIN(TstTicker)
#include "tst_ticker.moc"
