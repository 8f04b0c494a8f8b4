#include "platform/port/simulated.h"
#include "shell/aboutwindow.h"
#include "shell/mainwindow.h"
#include "shellrig.h"
#include "storage/store/schema.h"
#include "views/channels/channelwindow.h"
#include "views/inputs/inputswindow.h"
#include "views/widgets/messenger.h"
#include "views/widgets/timebox.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

using namespace kestra;
using namespace kestra::test;

// From the clock and the inputs to the port byte, through the real windows.
class TstChain : public QObject
{
    Q_OBJECT

    // What the timers would do next: one monitoring cycle, every channel tick, one scan.
    static void step(Rig& rig)
    {
        rig.model().inputs().cycle();
        for (int m = 1; m <= 8; ++m)
            rig.model().channel(m).tick();
        rig.model().scan();
    }

private slots:
    void init() { clearPlacement(); }

    void outputsOneAndEightOn_data()
    {
        QTest::addColumn<QString>("fiveVolts");
        QTest::addColumn<int>("byte");
        QTest::newRow("0 V is ON") << "False" << 126;
        QTest::newRow("5 V is ON") << "True" << 129;
    }
    void outputsOneAndEightOn()
    {
        QFETCH(QString, fiveVolts);
        QFETCH(int, byte);
        ui::RecordingMessenger messages;
        // Channel 1's mode flags carry no digit.
        Rig rig({{"On", "True"}, {"On8", "True"}, {"SOURCEPORT", fiveVolts}});
        rig.start();
        QCOMPARE(stateText(rig.model().channel(1).state()), QStringLiteral("calculating"));
        rig.model().scan(); // "calculating" counts as OFF
        QCOMPARE(rig.data(), quint8(fiveVolts == "True" ? 0 : 255));
        step(rig);
        QCOMPARE(rig.data(), quint8(byte));
        QCOMPARE(rig.find<QLineEdit>("Status1")->text(), QStringLiteral("ON"));
        QCOMPARE(rig.find<QLineEdit>("Status1")->palette().color(QPalette::Base), QColor(255, 0, 0));
        QCOMPARE(rig.find<QLineEdit>("Status2")->text(), QStringLiteral("OFF"));
        rig.stop();
        QCOMPARE(rig.data(), quint8(fiveVolts == "True" ? 0 : 255)); // the relays are left OFF...
        QCOMPARE(rig.stored("output"), QString::number(byte));       // ...and the next start puts them back
    }

    void scheduleReachesThePortWithinOneStep()
    {
        ui::RecordingMessenger messages;
        // Monday 7 December 2026.
        Rig rig({{"Mon3", "True"},
                 {"Auto3", "True"},
                 {"Start3a", "12:00:00"},
                 {"Run3a", "00:30:00"},
                 {"SOURCEPORT", "True"},
                 {"output", "0"}}); // all OFF at 5 V, as the last run left it
        rig.clock.set(QDateTime(QDate(2026, 12, 7), QTime(11, 59, 59)));
        rig.start();
        step(rig);
        QCOMPARE(rig.data(), quint8(0));
        rig.clock.set(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 1)));
        step(rig);
        QCOMPARE(rig.data(), quint8(4));
        rig.clock.set(QDateTime(QDate(2026, 12, 7), QTime(12, 30, 0)));
        step(rig);
        QCOMPARE(rig.data(), quint8(0));
        QCOMPARE(rig.port->writeCount(port::Register::Data), 3); // start-up, ON, OFF
        QVERIFY(messages.modals.isEmpty());
    }

    void inputOneForcesItsMappedOutputsInAutoOnly()
    {
        ui::RecordingMessenger messages;
        Rig rig({{"Auto3", "True"},
                 {"On5", "True"},
                 {"1INP ON3", "True"},
                 {"1INP OFF5", "True"},
                 {"SOURCEPORT", "True"}});
        rig.start();
        step(rig);
        QCOMPARE(rig.data(), quint8(16));                                     // channel 5 held ON by its mode
        port::SimulatedPortFile(rig.dir.filePath("port-3BC")).write(1, 0xF8); // input 1 ON, 2..5 OFF
        step(rig);
        QCOMPARE(rig.find<QLineEdit>("INPUT1")->text(), QStringLiteral("INPUT 1 ON"));
        QCOMPARE(rig.data(), quint8(4 + 16)); // the mode beats the input on channel 5
        port::SimulatedPortFile(rig.dir.filePath("port-3BC")).write(1, 0x78);
        step(rig);
        QCOMPARE(rig.data(), quint8(16));
    }

    void inputThreeHoldsForItsHoldTime()
    {
        ui::RecordingMessenger messages;
        Rig rig({{"Auto3", "True"}, {"3INP ON3", "True"}, {"INP3TIME", "00:00:30"}, {"SOURCEPORT", "True"}});
        rig.clock.set(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 0)));
        rig.start();
        port::SimulatedPortFile port(rig.dir.filePath("port-3BC"));
        port.write(1, 0x58); // input 3 ON
        for (int s = 0; s <= 10; ++s) {
            rig.clock.set(QDateTime(QDate(2026, 12, 7), QTime(10, 0, s)));
            step(rig);
        }
        QCOMPARE(rig.data(), quint8(4));
        port.write(1, 0x78); // released after the sample at 10:00:10
        rig.clock.set(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 39)));
        step(rig);
        QCOMPARE(rig.data(), quint8(4));
        rig.clock.set(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 40)));
        step(rig);
        QCOMPARE(rig.data(), quint8(0));
        rig.stop();
        QCOMPARE(rig.stored("inp3start"), QStringLiteral("10:00:10"));
        QCOMPARE(rig.stored("inp3date"), QStringLiteral("2026-12-07"));
    }

    // A bad entry in a channel window re-reads the inputs window's record; the
    // hold that input 3 started must run to its end all the same.
    void inputThreeHoldSurvivesABadEntryElsewhere()
    {
        ui::RecordingMessenger messages;
        Rig rig({{"Auto3", "True"}, {"3INP ON3", "True"}, {"INP3TIME", "00:10:00"}, {"SOURCEPORT", "True"}});
        const QDate day(2026, 12, 7);
        rig.clock.set(QDateTime(day, QTime(10, 0, 0)));
        rig.start();
        port::SimulatedPortFile port(rig.dir.filePath("port-3BC"));
        port.write(1, 0x58); // input 3 ON
        step(rig);
        rig.clock.set(QDateTime(day, QTime(10, 0, 10)));
        step(rig);
        port.write(1, 0x78); // released after the sample at 10:00:10
        rig.clock.set(QDateTime(day, QTime(10, 5, 0)));
        step(rig);
        QCOMPARE(rig.data(), quint8(4));

        channels::ChannelWindow* five = rig.main->channelWindow(5);
        auto* start = five->findChild<ui::TimeBox*>("time1a");
        start->lineEdit()->setText("1x:00:00");
        emit start->lineEdit()->textEdited("1x:00:00");
        step(rig);
        QCOMPARE(messages.modals.size(), 1);
        QCOMPARE(start->text(), QStringLiteral("00:00:00"));

        rig.clock.set(QDateTime(day, QTime(10, 10, 9)));
        step(rig);
        QCOMPARE(rig.data(), quint8(4));
        rig.clock.set(QDateTime(day, QTime(10, 10, 10)));
        step(rig);
        QCOMPARE(rig.data(), quint8(0));
        rig.stop();
        QCOMPARE(rig.stored("inp3start"), QStringLiteral("10:00:10"));
    }

    // One bad stored value that every window meets on every tick gives the
    // user one message, not a stack of nine.
    void oneBadValueEverywhereIsToldOnce_data()
    {
        QTest::addColumn<QString>("bad");
        QTest::newRow("every time field empty") << "times";
        QTest::newRow("a bad hold time mapped onto all eight outputs") << "hold";
    }
    void oneBadValueEverywhereIsToldOnce()
    {
        QFETCH(QString, bad);
        ui::RecordingMessenger messages;
        Rig rig;
        store::FieldValues fields;
        for (int m = 1; m <= 8; ++m) {
            fields.emplace_back(store::modeField(m, "Auto"), "True");
            if (bad == "hold") fields.emplace_back(store::mappingField(3, true, m), "True");
        }
        for (const QString& f : store::settingsFields())
            if (bad == "times" && store::fieldFormat(f) == store::FieldFormat::Time)
                fields.emplace_back(f, "");
        if (bad == "hold") fields.emplace_back("INP3TIME", "abc");
        rig.db->writeSettings(fields);
        rig.start();
        messages.whileOpen = [&] { step(rig); }; // every window ticks while the box waits
        for (int tick = 0; tick < 3; ++tick)
            step(rig);
        QCOMPARE(messages.modals.size(), 1);
    }

    void aNewChannelStateIsScannedAtOnce()
    {
        ui::RecordingMessenger messages;
        Rig rig({{"On3", "True"}, {"SOURCEPORT", "True"}, {"output", "0"}});
        rig.start();
        rig.model().channel(3).tick();
        // Well before the next regular scan, 500 ms away at most.
        QTRY_COMPARE_WITH_TIMEOUT(rig.data(), quint8(4), 100);
    }

    void editsSurviveShutdownAndRestart()
    {
        ui::RecordingMessenger messages;
        Rig rig;
        rig.start();
        channels::ChannelWindow* w = rig.main->channelWindow(4);
        w->findChild<QCheckBox*>("Tuesday")->click();
        w->findChild<QRadioButton*>("AUTO4")->click();
        auto* start = w->findChild<ui::TimeBox*>("time1b");
        start->lineEdit()->setText("18:00:00");
        emit start->lineEdit()->textEdited("18:00:00");
        rig.restart(); // as SIGTERM does: no OK pressed
        QCOMPARE(rig.stored("Tue4"), QStringLiteral("True"));
        QCOMPARE(rig.stored("Auto4"), QStringLiteral("True"));
        QCOMPARE(rig.stored("Start4b"), QStringLiteral("18:00:00"));
        QVERIFY(rig.main->channelWindow(4)->findChild<QCheckBox*>("Tuesday")->isChecked());
        QVERIFY(messages.modals.isEmpty());
    }
};

QTEST_MAIN(TstChain)
#include "tst_chain.moc"
