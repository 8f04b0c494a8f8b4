#include "logic/history/rows.h"
#include "model/historysource.h"
#include "model/recorder.h"
#include "platform/port/simulated.h"
#include "storage/history/historyfile.h"
#include "storage/store/sqlite.h"
#include "tests/support/testsupport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

using namespace kestra;
using namespace kestra::history;
using Phase = Recorder::Phase;
using CC = channels::Cause;

namespace {
// Monday 7 December 2026, noon.
const QDateTime kNoon(QDate(2026, 12, 7), QTime(12, 0, 0));

struct Rig
{
    QTemporaryDir dir;
    FakeClock clock{kNoon};
    port::Port port{0x3BC, test::simulatedPortEnvironment(dir)};
    Recorder::Snapshot snapshot;
    std::unique_ptr<Recorder> recorder;

    QString path() const { return dir.filePath(QStringLiteral("History3BC.db")); }
    // The recorder opens the file and counts the hours on its own thread; most
    // cases go on once that is done.
    void open(bool waitCounted = true)
    {
        recorder = std::make_unique<Recorder>(path(), clock);
        recorder->setSnapshotSource([this] { return snapshot; });
        port.setObserver(recorder.get());
        if (waitCounted) recorder->sync();
    }
    QList<PortRecord> ports() const
    {
        return HistoryFile::open(path(), HistoryFile::Access::Read)->allPortRecords();
    }
};

// "3:schedule 5:input 2", the outputs a write marks.
QString marks(const PortRecord& r)
{
    QStringList out;
    for (int m = 1; m <= 8; ++m)
        if (r.marks(m)) out << QStringLiteral("%1:%2").arg(m).arg(causeName(r.causeOf(m)));
    return out.join(QLatin1Char(' '));
}
} // namespace

class TstRecorder : public QObject
{
    Q_OBJECT
private slots:
    // Each write of the data register, in the order a run makes them: what is
    // recorded, which outputs it marks and why.
    void causesOfEachWrite_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<bool>("fiveVolts");
        QTest::addColumn<int>("channel"); // whose cause is set before the write
        QTest::addColumn<int>("cause");
        QTest::addColumn<int>("byte");
        QTest::addColumn<QString>("recorded"); // empty: nothing recorded
        // 0 V is ON: an ON output is a 0 bit.
        QTest::newRow("start-up puts the stored byte back")
            << "start" << false << 0 << 0 << 0xFB
            << "1:start-up 2:start-up 3:start-up 4:start-up 5:start-up 6:start-up 7:start-up 8:start-up";
        QTest::newRow("first scan: output 3 goes off by schedule")
            << "run" << false << 3 << int(CC::Schedule) << 0xFF << "3:schedule";
        QTest::newRow("the same byte again") << "run" << false << 0 << 0 << 0xFF << "";
        QTest::newRow("input 2 switches output 5 on")
            << "run" << false << 5 << int(CC::Input2) << 0xEF << "5:input 2";
        QTest::newRow("pulse on output 1") << "run" << false << 1 << int(CC::Pulse) << 0xEE << "1:pulse";
        QTest::newRow("polarity turned: every line flips") << "run" << true << 0 << 0 << 0x11
                                                           << "1:polarity 2:polarity 3:polarity 4:polarity "
                                                              "5:polarity 6:polarity 7:polarity 8:polarity";
        QTest::newRow("polarity back while output 1 goes off")
            << "run" << false << 1 << int(CC::Pulse) << 0xEF
            << "1:pulse 2:polarity 3:polarity 4:polarity 5:polarity 6:polarity 7:polarity 8:polarity";
        QTest::newRow("a channel not evaluated yet")
            << "run" << false << 2 << int(CC::None) << 0xED << "2:unknown";
        QTest::newRow("shutdown leaves all off")
            << "stop" << false << 0 << 0 << 0xFF
            << "1:shutdown 2:shutdown 3:shutdown 4:shutdown 5:shutdown 6:shutdown 7:shutdown 8:shutdown";
    }
    void causesOfEachWrite()
    {
        // One run through all rows: each row is the next write.
        static Rig* rig = nullptr;
        static QList<PortRecord> expected;
        if (!rig) {
            rig = new Rig;
            rig->open();
        }
        QFETCH(QString, phase);
        QFETCH(bool, fiveVolts);
        QFETCH(int, channel);
        QFETCH(int, cause);
        QFETCH(int, byte);
        QFETCH(QString, recorded);
        rig->recorder->setPhase(phase == "start" ? Phase::StartUp
                                : phase == "run" ? Phase::Running
                                                 : Phase::Shutdown);
        rig->snapshot.fiveVoltsOn = fiveVolts;
        if (channel) rig->snapshot.causes[channel - 1] = CC(cause);
        rig->clock.advanceMs(1500);
        rig->port.writeData(quint8(byte));
        rig->recorder->sync();
        const QList<PortRecord> records = rig->ports();
        if (!recorded.isEmpty())
            expected.append(PortRecord{rig->clock.now().toMSecsSinceEpoch(), quint8(byte),
                                       outputsOf(quint8(byte), fiveVolts), records.last().causes});
        QCOMPARE(records, expected);
        QCOMPARE(marks(records.last()), recorded.isEmpty() ? marks(expected.last()) : recorded);
        if (QTest::currentDataTag() == QLatin1String("shutdown leaves all off")) {
            delete rig;
            rig = nullptr;
            expected.clear();
        }
    }

    // Inputs: the first reading of a run states all five, then only changes.
    void inputChanges()
    {
        Rig rig;
        rig.open();
        port::SimulatedPortFile file(rig.dir.filePath(QStringLiteral("port-3BC")));
        const int statuses[] = {0x78, 0x78, 0xF8, 0xF8, 0xD8, 0x78};
        for (int s : statuses) {
            rig.port.readStatus(); // creates the file the first time
            file.write(1, quint8(s));
            rig.clock.advanceMs(200);
            rig.port.readStatus();
        }
        rig.recorder->sync();
        auto got =
            HistoryFile::open(rig.path(), HistoryFile::Access::Read)->inputRecords(0, LLONG_MAX, 0, 100);
        std::reverse(got.begin(), got.end());
        QList<QPair<int, int>> seen; // inputs ON, changed
        for (const InputRecord& r : got)
            seen.append({r.inputs, r.changed});
        // 0xF8: input 1 ON; 0xD8: inputs 1 and 3 ON.
        QCOMPARE(seen, (QList<QPair<int, int>>{{0, 0x1F}, {0b1, 0b1}, {0b101, 0b100}, {0, 0b101}}));
    }

    // A burst of writes costs one transaction a second, not one a write.
    void writesAreBatched()
    {
        Rig rig;
        rig.open();
        rig.recorder->setPhase(Phase::Running);
        QElapsedTimer t;
        t.start();
        int writes = 0;
        while (t.elapsed() < 2500) {
            rig.clock.advanceMs(10);
            rig.port.writeData(quint8(writes++ % 2 ? 0xFE : 0xFF));
            QTest::qWait(10);
        }
        const int batches = rig.recorder->batches();
        QVERIFY2(batches <= int(t.elapsed() / Recorder::kBatchPeriod.count()) + 1,
                 qPrintable(QStringLiteral("%1 batches for %2 writes in %3 ms")
                                .arg(batches)
                                .arg(writes)
                                .arg(t.elapsed())));
        rig.recorder->sync();
        QCOMPARE(rig.ports().size(), writes);
    }

    // Another program holding the file's write lock: the port writes go on at
    // once, the problem is told once, and nothing is lost when the lock goes.
    void lockedFileHoldsNothingUp()
    {
        Rig rig;
        rig.open();
        rig.recorder->setPhase(Phase::Running);
        QSignalSpy told(rig.recorder.get(), &Recorder::problemFound);
        {
            QSqlDatabase other =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            other.setDatabaseName(rig.path());
            QVERIFY(other.open());
            QSqlQuery q(other);
            QVERIFY(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
            for (int i = 0; i < 3; ++i) {
                QElapsedTimer t;
                t.start();
                rig.clock.advanceMs(500);
                rig.port.writeData(quint8(i % 2 ? 0xFF : 0xFE));
                QVERIFY(t.elapsed() < 100);
                rig.recorder->sync();
            }
            QCOMPARE(told.count(), 1);
            QVERIFY(!rig.recorder->problem().isEmpty());
            QVERIFY(q.exec(QStringLiteral("ROLLBACK")));
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        // Nothing new comes: what waits is written on its own.
        QTRY_COMPARE_WITH_TIMEOUT(rig.ports().size(), 3, 10000);
        QTRY_VERIFY(rig.recorder->problem().isEmpty());
        QCOMPARE(told.count(), 1);
    }

    // The hours go on after a restart, the reset with them; the time the
    // program was away counts as the state it left on the port.
    void hoursSurviveARestart()
    {
        Rig rig;
        rig.open();
        rig.recorder->setPhase(Phase::Running);
        rig.snapshot.fiveVoltsOn = true;
        rig.port.writeData(0b11); // outputs 1 and 2 ON
        rig.clock.advanceSeconds(600);
        rig.recorder->resetHours(2);
        rig.clock.advanceSeconds(60);
        rig.port.writeData(0b01);
        rig.clock.advanceSeconds(30);
        rig.recorder->close();
        rig.clock.advanceSeconds(3600); // not running, output 1 still ON on the port
        rig.open();
        QCOMPARE(rig.recorder->hours(1).totalMs, (600 + 60 + 30 + 3600) * 1000LL);
        QCOMPARE(rig.recorder->hours(2).totalMs, 60 * 1000LL);
        QCOMPARE(rig.recorder->hours(2).resetMs, kNoon.addSecs(600).toMSecsSinceEpoch());
        QCOMPARE(rig.recorder->hours(1).todayMs, rig.recorder->hours(1).totalMs);

        // Killed after a batch but before the hours were saved again: the
        // records after their save are counted at the next start.
        rig.recorder->close();
        const qint64 t = rig.clock.now().toMSecsSinceEpoch();
        HistoryFile::open(rig.path(), HistoryFile::Access::Write)
            ->write({{t + 1000, 0b10, 0b10, withCause(0, 1, Cause::Schedule)}, {t + 61000, 0, 0, 0}}, {},
                    std::nullopt);
        rig.clock.advanceSeconds(3600);
        rig.open();
        QCOMPARE(rig.recorder->hours(1).totalMs, (600 + 60 + 30 + 3600 + 1) * 1000LL);
        QCOMPARE(rig.recorder->hours(2).totalMs, (60 + 60) * 1000LL);

        // The hours table emptied by hand: all records are counted again from the
        // first, and what this run does meanwhile counts on top, in its order.
        rig.recorder->close();
        {
            store::SqliteConnection c(QStringLiteral("test"), rig.path());
            QVERIFY(c.open());
            QVERIFY(QSqlQuery(c.db()).exec(QStringLiteral("DELETE FROM hours")));
        }
        rig.clock.advanceSeconds(60);
        rig.open(false);
        QVERIFY(hoursText(1, RecorderHistory(*rig.recorder, nullptr)).contains(QStringLiteral("counting")));
        rig.recorder->setPhase(Phase::Running);
        rig.port.writeData(0b01);
        const qint64 written = rig.clock.now().toMSecsSinceEpoch();
        rig.clock.advanceSeconds(30);
        rig.recorder->resetHours(1);
        const qint64 reset = rig.clock.now().toMSecsSinceEpoch();
        rig.clock.advanceSeconds(30);
        rig.recorder->sync();
        QCOMPARE(rig.recorder->hours(1).totalMs, 30 * 1000LL);
        QCOMPARE(rig.recorder->hours(1).resetMs, reset);
        // Output 2's reset was kept only in the table: its whole ON time, from the first record.
        QCOMPARE(rig.recorder->hours(2).totalMs, (660 + 60) * 1000LL);
        QCOMPARE(rig.recorder->hours(2).resetMs, kNoon.toMSecsSinceEpoch());
        QCOMPARE(rig.ports().last().ms, written);
    }
};

QTEST_GUILESS_MAIN(TstRecorder)
#include "tst_recorder.moc"
