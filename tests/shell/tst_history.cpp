#include "logic/history/rows.h"
#include "model/pulse.h"
#include "platform/port/simulated.h"
#include "shell/aboutwindow.h"
#include "shell/historyhook.h"
#include "shell/statustips.h"
#include "shell/mainwindow.h"
#include "shellrig.h"
#include "storage/history/historyfile.h"
#include "storage/store/sqlite.h"
#include "views/channels/channelwindow.h"
#include "views/channels/pulseframe.h"
#include "views/history/historywindow.h"
#include "views/inputs/inputswindow.h"
#include "views/widgets/messenger.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QTest>
#include <ctime>

using namespace kestra;
using namespace kestra::test;
using history::PortRecord;

namespace {
// The week from Sunday 6 to Saturday 12 December 2026.
const QDate kSunday(2026, 12, 6);
QDateTime at(int day, const QString& hms)
{
    return QDateTime(kSunday.addDays(day), QTime::fromString(hms, QStringLiteral("HH:mm:ss")));
}
enum Day { Sun, Mon, Tue, Wed, Thr, Fri, Sat };

// A busy week: schedules on six channels, input 1 and input 3 with its hold,
// a pulse, a mode button and the polarity turned once. 5 V is ON at first.
store::FieldValues busyWeek()
{
    // clang-format off
    store::FieldValues v = {
        {"SOURCEPORT", "True"}, {"output", "0"},
        // Channel 3: Monday to Friday 07:00:00 for 1:30:00 (ON 07:00:01 to 08:29:59).
        {"Auto3", "True"}, {"Mon3", "True"}, {"Tue3", "True"}, {"Wed3", "True"}, {"Thr3", "True"}, {"Fri3", "True"},
        {"Start3a", "07:00:00"}, {"Run3a", "01:30:00"},
        // Channel 4: every day 06:00:00 + 0:10:00 and 18:00:00 + 2:00:00, ends included.
        {"Auto4", "True"}, {"Start4a", "06:00:00"}, {"Run4a", "00:10:00"}, {"Start4b", "18:00:00"}, {"Run4b", "02:00:00"},
        // Channel 7: from Friday 22:00:00 to Saturday 06:00:00 (and Monday's morning).
        {"Auto7", "True"}, {"Fri7", "True"}, {"SAT7A", "True"}, {"MON7A", "True"}, {"Start7a", "22:00:00"},
        {"Run7a", "06:00:00"},
        // Channel 5 follows input 1, channel 6 input 3 with a hold of 30 s.
        {"Auto5", "True"}, {"1INP ON5", "True"}, {"Auto6", "True"}, {"3INP ON6", "True"}, {"INP3TIME", "00:00:30"},
        // Channels 1 and 2 in AUTO with no day: channel 1 pulses on Tuesday, channel 2 is ON by its mode on Wednesday.
        {"Auto", "True"}, {"Auto2", "True"}, {"Auto8", "True"}};
    // clang-format on
    // Channels 4 and 8 every day; channel 8's ten switchings of 0:05:00 from 08:00:00 to 17:00:00, ends
    // included.
    for (const char* d : {"Sun", "Mon", "Tue", "Wed", "Thr", "Fri", "Sat"})
        for (const char* m : {"4", "8"})
            v.push_back({QLatin1String(d) + QLatin1String(m), "True"});
    for (int k = 0; k < 10; ++k) {
        const QChar s = QLatin1Char(char('a' + k));
        v.push_back({QStringLiteral("Start8") + s, QStringLiteral("%1:00:00").arg(8 + k, 2, 10, QChar('0'))});
        v.push_back({QStringLiteral("Run8") + s, "00:05:00"});
    }
    return v;
}

// The program with its history, on the rig's parts.
struct Program
{
    Rig& rig;
    std::unique_ptr<shell::HistoryHook> hook;
    explicit Program(Rig& r) : rig(r)
    {
        rig.service =
            std::make_unique<service::Service>(model::Context{kestra3Config(), *rig.port, *rig.db, rig.clock},
                                               rig.dir.filePath(QStringLiteral("History3BC.db")));
        rig.main = std::make_unique<shell::MainWindow>(*rig.service);
        hook = std::make_unique<shell::HistoryHook>(rig.service->recorder(), rig.clock,
                                                    QStringLiteral("KESTRA3"));
        hook->attach(*rig.main);
        rig.main->load();
        hook->recorder().sync(); // opened and counted on the history's thread
    }
    void stop()
    {
        hook.reset();
        rig.stop();
    }
};
} // namespace

class TstHistory : public QObject
{
    Q_OBJECT

    // Watches the port file from outside, as the panel would: each change of
    // the data byte, at the moment the test is at.
    struct Watch
    {
        QList<QPair<qint64, int>> changes;
        int last = -1;
        void look(const Rig& rig)
        {
            const int now = rig.data();
            if (now != last) changes.append({rig.clock.now().toMSecsSinceEpoch(), now});
            last = now;
        }
    };

    static void step(Rig& rig, Watch& w)
    {
        rig.model().inputs().cycle();
        for (int m = 1; m <= 8; ++m)
            rig.model().channel(m).tick();
        rig.model().scan();
        w.look(rig);
    }

private slots:
    void initTestCase()
    {
        // With TZ unset the C library looks at /etc/localtime at every local
        // time; a week of steps would spend most of its time there.
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }
    void init() { clearPlacement(); }

    // A week on the fake clock through the real windows: the history holds
    // exactly the port changes seen from outside, each for the reason that
    // made it, and the operating hours equal the ON time seen on the port.
    void aWeekOfHistory()
    {
        ui::RecordingMessenger messages;
        Rig rig;
        rig.db->writeSettings(busyWeek());
        rig.clock.set(at(Sun, "00:00:00").addSecs(-60));
        Watch watch;
        Program program(rig);
        watch.look(rig); // the start-up write
        port::SimulatedPortFile inputs(rig.dir.filePath("port-3BC"));

        // The seconds worth stepping one by one: every edge the schedule and the test make.
        QList<QDateTime> busy;
        for (int d = Sun; d <= Sat; ++d) {
            for (const char* t : {"06:00:00", "06:10:00", "07:00:00", "08:30:00", "18:00:00", "20:00:00",
                                  "22:00:00", "10:00:00", "10:05:00", "14:00:00", "14:00:40"})
                busy << at(d, QLatin1String(t));
            for (int k = 0; k < 10; ++k)
                busy << at(d, QStringLiteral("%1:00:00").arg(8 + k, 2, 10, QChar('0')))
                     << at(d, QStringLiteral("%1:05:00").arg(8 + k, 2, 10, QChar('0')));
        }
        busy << at(Tue, "15:00:00") << at(Wed, "12:00:00") << at(Wed, "13:00:00") << at(Fri, "12:00:00")
             << at(Sat, "23:59:59");
        // Every second from two before an edge to two after it, else 30 s at most.
        const auto nextStep = [&](const QDateTime& t) {
            qint64 step = 30;
            for (const QDateTime& b : busy) {
                const qint64 d = t.secsTo(b);
                if (d >= -2 && d <= 2) return qint64(1);
                if (d > 2) step = qMin(step, d - 2);
            }
            return step;
        };
        const QDateTime end = at(Sat, "23:59:59").addSecs(31);
        const qint64 polarityTurned = at(Fri, "12:00:00").toMSecsSinceEpoch();
        bool weekChecked = false;
        while (rig.clock.now() < end) {
            const QDateTime now = rig.clock.now();
            // What the test does at its moments: inputs, a pulse, the mode, the polarity.
            if (now == at(Mon, "10:00:00")) inputs.write(1, 0xF8); // input 1 ON
            if (now == at(Mon, "10:05:00")) inputs.write(1, 0x78);
            if (now == at(Thr, "14:00:00")) inputs.write(1, 0x58); // input 3 ON
            if (now == at(Thr, "14:00:11")) inputs.write(1, 0x78); // released after the 14:00:10 sample
            if (now == at(Wed, "12:00:00"))
                rig.main->channelWindow(2)->findChild<QRadioButton*>("ON2")->click();
            if (now == at(Wed, "13:00:00"))
                rig.main->channelWindow(2)->findChild<QRadioButton*>("AUTO2")->click();
            if (now == at(Fri, "12:00:00")) rig.main->aboutWindow()->findChild<QCheckBox*>("sport")->click();
            if (now == at(Tue, "15:00:00")) {
                // Two minutes of pulsing: 0.5 s ON, 1 s OFF, phase by phase.
                channels::PulseFrame* pulse = rig.main->channelWindow(1)->pulseFrame();
                pulse->onList()->setCurrentItem(pulse->onList()->findItems(".5", Qt::MatchExactly).first());
                pulse->offList()->setCurrentItem(pulse->offList()->findItems("1", Qt::MatchExactly).first());
                rig.main->channelWindow(1)->findChild<QPushButton*>("PULSE")->click();
                step(rig, watch);
                for (int i = 0; i < 80; ++i) {
                    rig.clock.advanceMs(500);
                    rig.model().channel(1).pulse()->onPhaseTick();
                    step(rig, watch);
                    rig.clock.advanceMs(1000);
                    rig.model().channel(1).pulse()->offPhaseTick();
                    step(rig, watch);
                }
                rig.clock.advanceMs(200);
                rig.main->channelWindow(1)->findChild<QPushButton*>("PLSEOFF")->click();
            }
            step(rig, watch);
            if (now == at(Sat, "23:59:59")) {
                // This week from Sunday 00:00, against the port seen from outside.
                for (int m = 1; m <= 8; ++m)
                    QCOMPARE(program.hook->recorder().hours(m).weekMs,
                             onTimeSeen(watch, m, at(Sun, "00:00:00").toMSecsSinceEpoch(),
                                        now.toMSecsSinceEpoch(), polarityTurned));
                weekChecked = true;
            }
            // After the pulse the clock is on a fraction of a second: on to the next whole one.
            rig.clock.set(QDateTime::fromSecsSinceEpoch((rig.clock.now().toMSecsSinceEpoch() + 999) / 1000));
            rig.clock.advanceSeconds(nextStep(rig.clock.now()));
        }
        QVERIFY(weekChecked);
        const qint64 stopped = rig.clock.now().toMSecsSinceEpoch();
        const auto hours = [&](int m) { return program.hook->recorder().hours(m); };
        std::array<history::Hours, 8> before;
        for (int m = 1; m <= 8; ++m)
            before[m - 1] = hours(m);
        program.stop();
        watch.look(rig); // the shutdown write

        // Exactly the port's changes, at their moments, nothing more; every
        // write is recorded (start-up and shutdown also when the byte stays).
        const QList<PortRecord> records =
            history::HistoryFile::open(rig.dir.filePath("History3BC.db"), history::HistoryFile::Access::Read)
                ->allPortRecords();
        QList<QPair<qint64, int>> recorded;
        for (const PortRecord& r : records)
            if (recorded.isEmpty() || recorded.last().second != r.byte) recorded.append({r.ms, r.byte});
        QCOMPARE(recorded, watch.changes);
        QCOMPARE(rig.port->writeCount(port::Register::Data), int(records.size()));
        QVERIFY2(records.size() > 300, qPrintable(QString::number(records.size())));

        // The operating hours equal the ON time seen on the port, to the millisecond.
        const qint64 start = watch.changes.first().first;
        for (int m = 1; m <= 8; ++m)
            QCOMPARE(before[m - 1].totalMs, onTimeSeen(watch, m, start, stopped, polarityTurned));
        // And they are what was set: channel 3 from 07:00:01 to 08:29:59 on five
        // days, channel 8 ten times 5:01 a day, channel 2 one hour by its mode.
        QCOMPARE(before[2].totalMs, 5 * (90 * 60 - 1) * 1000LL);
        QCOMPARE(before[7].totalMs, 7 * 10 * (5 * 60 + 1) * 1000LL);
        // 80 pulses of 0.5 s, and the 81st stopped after 0.2 s: channel 1 keeps
        // its pulse state until its next tick.
        QCOMPARE(before[0].totalMs, 80 * 500LL + 200);
        QCOMPARE(before[1].totalMs, 3600 * 1000LL);

        // Why: a few of the week's moments.
        const auto causeAt = [&](const QDateTime& t, int output) {
            for (const PortRecord& r : records)
                if (r.ms == t.toMSecsSinceEpoch()) return history::causeName(r.causeOf(output));
            return QStringLiteral("no record");
        };
        QCOMPARE(causeAt(at(Mon, "07:00:01"), 3), QStringLiteral("schedule"));
        QCOMPARE(causeAt(at(Mon, "10:00:00"), 5), QStringLiteral("input 1"));
        QCOMPARE(causeAt(at(Tue, "15:00:00"), 1), QStringLiteral("pulse"));
        QCOMPARE(causeAt(at(Wed, "12:00:00"), 2), QStringLiteral("mode"));
        QCOMPARE(causeAt(at(Thr, "14:00:00"), 6), QStringLiteral("input 3"));
        QCOMPARE(causeAt(at(Fri, "12:00:00"), 4), QStringLiteral("polarity"));
        QCOMPARE(causeAt(at(Sat, "06:00:01"), 7), QStringLiteral("schedule"));
        QCOMPARE(history::causeName(records.first().causeOf(1)), QStringLiteral("start-up"));
        QCOMPARE(history::causeName(records.last().causeOf(8)), QStringLiteral("shutdown"));
        QCOMPARE(records.last().outputs, quint8(0));

        // The hours go on after a restart: nothing was ON while it was off.
        rig.clock.advanceSeconds(3600);
        Program again(rig);
        for (int m = 1; m <= 8; ++m)
            QCOMPARE(again.hook->recorder().hours(m).totalMs, before[m - 1].totalMs);
        QVERIFY(messages.notices.isEmpty());
        again.stop();
    }

    // View, History between File and Help; the Status fields tell the hours.
    void menuAndToolTips()
    {
        ui::RecordingMessenger messages;
        Rig rig({{"On3", "True"}, {"SOURCEPORT", "True"}, {"output", "0"}});
        Program program(rig);
        Watch w;
        step(rig, w);
        rig.clock.advanceSeconds(3725);
        QStringList menus;
        for (QAction* a : rig.main->menuBar()->actions())
            menus << a->text();
        QCOMPARE(menus, (QStringList{"&File", "&View", "&Help"}));
        QAction* show = rig.main->menuBar()->findChild<QAction*>("mnuHistory");
        QVERIFY(show);
        QCOMPARE(show->text(), QStringLiteral("&History"));
        show->trigger();
        QVERIFY(program.hook->window() && program.hook->window()->isVisible());
        QCOMPARE(program.hook->window()->objectName(), QStringLiteral("frmHistory"));
        QCOMPARE(program.hook->window()->windowTitle(), QStringLiteral("KESTRA3 - History"));

        // The Status field's tip: its next switching, then the hours.
        auto* status3 =
            rig.main->centralWidget()->findChild<QLineEdit*>("Status3", Qt::FindDirectChildrenOnly);
        const QString tip = rig.main->statusTip(3);
        QVERIFY2(tip.startsWith(shell::statusToolTip(status3->toolTip(), QStringLiteral(
                                                  "Output 3 was ON today 1:02:05, this week 1:02:05"))),
                 qPrintable(tip));
        QVERIFY(rig.main->statusTip(4).contains(QStringLiteral("today 0:00:00")));
        program.stop();
    }

    // A history file that cannot be used: said once, and the switching is as
    // before. Only a file that is no history file is worth moving away.
    void unusableHistoryIsToldOnce_data()
    {
        QTest::addColumn<bool>("damaged");
        QTest::newRow("not SQLite") << true;
        QTest::newRow("locked by another program") << false;
    }
    void unusableHistoryIsToldOnce()
    {
        QFETCH(bool, damaged);
        ui::RecordingMessenger messages;
        Rig rig({{"On3", "True"}, {"SOURCEPORT", "True"}, {"output", "0"}});
        const QString path = rig.dir.filePath("History3BC.db");
        std::optional<store::SqliteConnection> holder;
        if (damaged) {
            QFile bad(path);
            QVERIFY(bad.open(QIODevice::WriteOnly));
            bad.write(QByteArray(4096, '\x5a'));
        } else {
            history::HistoryFile::open(path, history::HistoryFile::Access::Write);
            holder.emplace(QStringLiteral("holder"), path);
            QVERIFY(holder->open());
            QSqlQuery q(holder->db());
            QVERIFY(q.exec("PRAGMA locking_mode=EXCLUSIVE") && q.exec("BEGIN EXCLUSIVE"));
        }
        Program program(rig);
        Watch w;
        step(rig, w);
        QCOMPARE(rig.data(), quint8(4));
        QTRY_COMPARE(messages.notices.size(), 1);
        QVERIFY2(messages.notices.first().contains(QStringLiteral("History3BC.db")),
                 qPrintable(messages.notices.first()));
        QCOMPARE(messages.notices.first().contains(QStringLiteral("Move the file away")), damaged);
        rig.clock.advanceSeconds(1);
        step(rig, w);
        QTest::qWait(50);
        QCOMPARE(messages.notices.size(), 1);
        QVERIFY(rig.main->statusTip(3).contains(QStringLiteral("No history")));
        program.stop();
        QCOMPARE(rig.data(), quint8(0));
    }

private:
    // ON time of output m seen on the port within [from, to): 5 V is ON until
    // `polarityTurned`, 0 V after it.
    static qint64 onTimeSeen(const Watch& w, int m, qint64 from, qint64 to, qint64 polarityTurned)
    {
        qint64 sum = 0;
        for (int i = 0; i < w.changes.size(); ++i) {
            const qint64 a = qMax(from, w.changes[i].first);
            const qint64 b = qMin(to, i + 1 < w.changes.size() ? w.changes[i + 1].first : to);
            if (b <= a) continue;
            const bool fiveVolts = w.changes[i].first < polarityTurned;
            const quint8 outputs = history::outputsOf(quint8(w.changes[i].second), fiveVolts);
            if (outputs & (1u << (m - 1))) sum += b - a;
        }
        return sum;
    }
};

QTEST_MAIN(TstHistory)
#include "tst_history.moc"
