#include "logic/history/hours.h"

#include <QRandomGenerator>
#include <QTest>
#include <ctime>

using namespace kestra;
using namespace kestra::history;

namespace {
qint64 at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s)).toMSecsSinceEpoch();
}

// The ON time of output m within [from, to), summed plainly from the records.
qint64 plainSum(const QList<PortRecord>& records, quint8 initial, int m, qint64 from, qint64 to)
{
    quint8 outputs = initial;
    qint64 sum = 0;
    qint64 last = from;
    for (const PortRecord& r : records) {
        if (r.ms >= to) break;
        if (r.ms > from) {
            if (outputs & (1u << (m - 1))) sum += r.ms - qMax(last, from);
            last = r.ms;
        }
        outputs = r.outputs;
    }
    if (outputs & (1u << (m - 1))) sum += to - qMax(last, from);
    return sum;
}
} // namespace

class TstHours : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // A zone with daylight saving, so that days of 23 and 25 hours are counted too.
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void periodStarts_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<qint64>("day");
        QTest::addColumn<qint64>("week");
        QTest::addColumn<qint64>("month");
        // The week starts on Sunday, the program's first day.
        QTest::newRow("Monday") << at(2026, 12, 7, 12) << at(2026, 12, 7) << at(2026, 12, 6)
                                << at(2026, 12, 1);
        QTest::newRow("Sunday midnight")
            << at(2026, 12, 6) << at(2026, 12, 6) << at(2026, 12, 6) << at(2026, 12, 1);
        QTest::newRow("Saturday night")
            << at(2026, 12, 5, 23, 59, 59) << at(2026, 12, 5) << at(2026, 11, 29) << at(2026, 12, 1);
        QTest::newRow("week over two months")
            << at(2026, 4, 1, 8) << at(2026, 4, 1) << at(2026, 3, 29) << at(2026, 4, 1);
        QTest::newRow("day of 23 hours")
            << at(2026, 3, 29, 12) << at(2026, 3, 29) << at(2026, 3, 29) << at(2026, 3, 1);
    }
    void periodStarts()
    {
        QFETCH(qint64, ms);
        QTEST(dayStart(ms), "day");
        QTEST(weekStart(ms), "week");
        QTEST(monthStart(ms), "month");
    }

    // Random changes over ten weeks around both clock changes of 2026: at every
    // moment asked, today, this week, this month and since the reset equal the
    // plain sum of the ON stretches, also across a save and restore (a restart).
    void countsEqualThePlainSum()
    {
        QRandomGenerator rng(1616);
        const qint64 start = at(2026, 3, 10, 13, 7, 11);
        const qint64 end = at(2026, 11, 2);
        QList<PortRecord> records;
        for (qint64 t = start; t < end;) {
            records.append({t, 0, quint8(rng.bounded(256)), 0});
            // Mostly short, sometimes days long, like a pulse and a program that was off.
            const int kind = rng.bounded(10);
            t += kind < 6   ? rng.bounded(1, 4000)
                 : kind < 9 ? rng.bounded(1, 7200000)
                            : rng.bounded(1, 400000000);
        }
        const int resetAt = int(records.size()) / 3;
        const int output = 5;

        HoursTracker tracker;
        for (int i = 0; i < records.size(); ++i) {
            tracker.change(records[i].ms, records[i].outputs);
            if (i == resetAt) tracker.reset(output, records[i].ms + 1);
            if (i % 97 == 0) {
                HoursTracker restarted;
                restarted.restore(tracker.saved());
                tracker = restarted;
            }
            if (i % 13 != 0) continue;
            const qint64 now = records[i].ms + rng.bounded(1, 300000);
            const QList<PortRecord> upto = records.mid(0, i + 1);
            for (int m = 1; m <= 8; ++m) {
                const Hours h = tracker.hours(m, now);
                QCOMPARE(h.todayMs, plainSum(upto, 0, m, qMax(start, dayStart(now)), now));
                QCOMPARE(h.weekMs, plainSum(upto, 0, m, qMax(start, weekStart(now)), now));
                QCOMPARE(h.monthMs, plainSum(upto, 0, m, qMax(start, monthStart(now)), now));
                const qint64 since = (m == output && i >= resetAt) ? records[resetAt].ms + 1 : start;
                QCOMPARE(h.resetMs, since);
                QCOMPARE(h.totalMs, plainSum(upto, 0, m, since, now));
                // The stretches of the timeline add up to the same.
                QCOMPARE(totalMs(onStretches(0, upto, m, since, now)), h.totalMs);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TstHours)
#include "tst_hours.moc"
