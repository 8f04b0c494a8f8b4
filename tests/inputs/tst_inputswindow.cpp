#include "base/timetext.h"
#include "inputsrig.h"
#include "model/errorroutine.h"
#include "storage/store/schema.h"
#include "views/widgets/messenger.h"
#include "views/widgets/timebox.h"
#include "views/widgets/twips.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace kestra;
using test::InputsRig;

class TstInputsWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // The sound lists start at the home directory; keep them off the real one.
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
    }

    void showsNewRecord()
    {
        InputsRig rig;
        auto& w = rig.open();
        QCOMPARE(w.objectName(), QStringLiteral("Form9"));
        QCOMPARE(w.windowTitle(), QStringLiteral("INPUTS"));
        QVERIFY(w.isHidden());
        for (int n = 1; n <= 3; ++n)
            for (const char* action : {"ON", "OFF"})
                for (int m = 1; m <= 8; ++m) {
                    const QString box = QStringLiteral("INP%1%2%3").arg(n).arg(action).arg(m);
                    auto* b = rig.child<QCheckBox>(box);
                    QVERIFY2(b, qPrintable(box));
                    QVERIFY(!b->isChecked());
                    QVERIFY(!b->isTristate());
                }
        for (int n = 1; n <= 5; ++n)
            QCOMPARE(rig.inputs().levelText(n), QStringLiteral("calculating"));
        auto* hold = rig.child<ui::TimeBox>(QStringLiteral("INP3TIME"));
        QCOMPARE(hold->text(), QStringLiteral("00:00:00"));
        QCOMPARE(hold->count(), store::presetRunTimes().size());
        QCOMPARE(hold->toolTip(), QStringLiteral("Turns on  or off for selected time,only for input 3."));
        QVERIFY(!rig.inputs().holdTime().isChanged());
        QCOMPARE(rig.inputs().holdStart(), QStringLiteral("00:00:00"));
        QCOMPARE(rig.inputs().holdDate(), QStringLiteral("2024-03-04"));
        QCOMPARE(rig.child<QLineEdit>(QStringLiteral("FILEBox2"))->text(), QString());
        QCOMPARE(rig.child<QLineEdit>(QStringLiteral("filebox1"))->text(), QString());
        QCOMPARE(rig.child<QPushButton>(QStringLiteral("Command1"))->text(), QStringLiteral("OK"));
        QVERIFY(rig.timer());
        QCOMPARE(rig.timer()->interval(), 200);

        QStringList labels;
        for (const QLabel* l : w.findChildren<QLabel*>())
            labels << l->text();
        for (const char* t :
             {"OUTPUTS", "INPUTS", "1,2,3 Inputs if in Auto only", "Turns On Selected Outputs",
              "Turns Off Selected Outputs", "FILES SELECTED", "FILES", " 1", " 8"})
            QVERIFY2(labels.contains(QLatin1String(t)), t);

        // The grid: output m's column at 1560 + 360 (m - 1), input 2 OFF is the fourth row.
        QCOMPARE(rig.child<QCheckBox>(QStringLiteral("INP2OFF5"))->geometry(),
                 ui::twipsRect(1560 + 360 * 4, 1800, 255, 255, &w));
        QCOMPARE(rig.child<QLineEdit>(QStringLiteral("INPUT5"))->geometry(),
                 ui::twipsRect(240, 4800, 1215, 375, &w));
    }

    void statusBytes_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("texts");
        const QString on = QStringLiteral("INPUT %1 ON"), off = QStringLiteral("INPUT %1 OFF");
        auto row = [&](const char* name, int status, QList<bool> states) {
            QStringList t;
            for (int n = 1; n <= 5; ++n)
                t << (states[n - 1] ? on : off).arg(n);
            QTest::newRow(name) << status << t;
        };
        row("0x78 idle lines", 0x78, {false, false, false, false, false});
        row("0x80 all on", 0x80, {true, true, true, true, true});
        row("0x87 low bits ignored", 0x87, {true, true, true, true, true});
        row("0x00", 0x00, {false, true, true, true, true});
        row("0xFF", 0xFF, {true, false, false, false, false});
        row("0x68 only input 4", 0x68, {false, false, false, true, false});
    }
    void statusBytes()
    {
        QFETCH(int, status);
        QFETCH(QStringList, texts);
        InputsRig rig;
        rig.open();
        rig.setStatus(quint8(status));
        rig.inputs().cycle();
        for (int n = 1; n <= 5; ++n)
            QCOMPARE(rig.inputs().levelText(n), texts[n - 1]);
        const auto view = rig.inputs().overrideView(1);
        QCOMPARE(view.input1, texts[0] == QLatin1String("INPUT 1 ON"));
        QCOMPARE(view.input3, texts[2] == QLatin1String("INPUT 3 ON"));
    }

    void timerRunsTheCycleWhileHidden()
    {
        InputsRig rig;
        auto& w = rig.open(true);
        rig.setStatus(0x80);
        QTRY_COMPARE(rig.inputs().levelText(1), QStringLiteral("INPUT 1 ON"));
        rig.setStatus(0x78);
        QTRY_COMPARE(rig.inputs().levelText(1), QStringLiteral("INPUT 1 OFF"));
        QVERIFY(w.isHidden());
    }

    void input3StampsTheLastOnSample()
    {
        InputsRig rig;
        rig.open();
        rig.setStatus(0x78 & ~0x20); // input 3 ON
        rig.clock.set(QDateTime(QDate(2024, 3, 4), QTime(10, 0, 0)));
        rig.inputs().cycle();
        rig.clock.set(QDateTime(QDate(2024, 3, 4), QTime(10, 0, 10, 800)));
        rig.inputs().cycle();
        rig.setStatus(0x78);
        rig.clock.set(QDateTime(QDate(2024, 3, 4), QTime(10, 0, 20)));
        rig.inputs().cycle();
        auto view = rig.inputs().overrideView(3);
        QVERIFY(!view.input3);
        QCOMPARE(view.inp3Start, QStringLiteral("10:00:10"));
        QCOMPARE(view.inp3Date, QStringLiteral("2024-03-04"));

        // The stamp is an edit of the record like any other: stored at the next commit.
        QCOMPARE(rig.stored(QStringLiteral("inp3start")), QStringLiteral("00:00:00"));
        rig.child<QPushButton>(QStringLiteral("Command1"))->click();
        QCOMPARE(rig.stored(QStringLiteral("inp3start")), QStringLiteral("10:00:10"));

        // Next day: the date follows.
        rig.setStatus(0x00);
        rig.clock.set(QDateTime(QDate(2024, 3, 5), QTime(0, 0, 1)));
        rig.inputs().cycle();
        view = rig.inputs().overrideView(3);
        QCOMPARE(view.inp3Start, QStringLiteral("00:00:01"));
        QCOMPARE(parseDate(view.inp3Date), QDate(2024, 3, 5));
    }

    void failingPortReadKeepsTheTexts()
    {
        ui::RecordingMessenger messages;
        InputsRig rig;
        rig.open();
        rig.inputs().cycle(); // the first read chooses the simulated port
        QCOMPARE(rig.inputs().levelText(1), QStringLiteral("INPUT 1 OFF"));
        rig.setStatus(0x80);
        rig.inputs().cycle();
        QVERIFY(QFile::remove(rig.sim.path()));
        QVERIFY(QDir().mkdir(rig.sim.path())); // now it cannot be read at all
        rig.inputs().cycle();
        for (int n = 1; n <= 5; ++n)
            QCOMPARE(rig.inputs().levelText(n), QStringLiteral("INPUT %1 ON").arg(n));
        QVERIFY(messages.modals.isEmpty());
        QVERIFY(messages.notices.isEmpty());
        QVERIFY(QDir().rmdir(rig.sim.path()));
        rig.sim.ensureExists();
        rig.inputs().cycle();
        QCOMPARE(rig.inputs().levelText(1), QStringLiteral("INPUT 1 OFF"));
    }

    void mappingBoxesRoundTrip()
    {
        InputsRig rig;
        auto& w = rig.open();
        w.show();
        auto* twice = rig.child<QCheckBox>(QStringLiteral("INP1ON3"));
        auto* once = rig.child<QCheckBox>(QStringLiteral("INP2OFF5"));
        auto* both = rig.child<QCheckBox>(QStringLiteral("INP1OFF3"));
        twice->click();
        QCOMPARE(rig.inputs().mapping(1, true, 3), 1);
        twice->click();
        once->click();
        both->click();
        QCOMPARE(rig.inputs().overrideView(5).boxes, (std::array<int, 6>{0, 0, 0, 1, 0, 0}));
        QCOMPARE(rig.inputs().overrideView(3).boxes, (std::array<int, 6>{0, 1, 0, 0, 0, 0}));
        QCOMPARE(rig.stored(QStringLiteral("2INP OFF5")), QStringLiteral("False")); // nothing stored yet

        rig.child<QPushButton>(QStringLiteral("Command1"))->click();
        QVERIFY(w.isHidden());
        QCOMPARE(rig.stored(QStringLiteral("1INP ON3")), QStringLiteral("False"));
        QCOMPARE(rig.stored(QStringLiteral("1INP OFF3")), QStringLiteral("True"));
        QCOMPARE(rig.stored(QStringLiteral("2INP OFF5")), QStringLiteral("True"));

        rig.restart();
        QVERIFY(rig.child<QCheckBox>(QStringLiteral("INP2OFF5"))->isChecked());
        QVERIFY(rig.child<QCheckBox>(QStringLiteral("INP1OFF3"))->isChecked());
        QVERIFY(!rig.child<QCheckBox>(QStringLiteral("INP1ON3"))->isChecked());
        QCOMPARE(rig.inputs().overrideView(5).boxes, (std::array<int, 6>{0, 0, 0, 1, 0, 0}));
    }

    void storedMappingTexts_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("set");
        QTest::addColumn<QString>("shown");
        QTest::newRow("True") << "True" << true << "True";
        QTest::newRow("False") << "False" << false << "False";
        QTest::newRow("lower case true") << "true" << true << "True";
        QTest::newRow("-1 reads true") << "-1" << true << "True";
        QTest::newRow("empty loads cleared") << "" << false << "False";
        QTest::newRow("a word loads cleared") << "maybe" << false << "False";
    }
    void storedMappingTexts()
    {
        QFETCH(QString, stored);
        QFETCH(bool, set);
        QFETCH(QString, shown);
        InputsRig rig;
        rig.db->writeSettings({{QStringLiteral("3INP ON8"), stored}});
        rig.open();
        QCOMPARE(rig.child<QCheckBox>(QStringLiteral("INP3ON8"))->isChecked(), set);
        QCOMPARE(rig.inputs().overrideView(8).boxes[4], set ? 1 : 0);
    }

    void rereadDropsUnsavedClicks()
    {
        InputsRig rig;
        rig.open();
        rig.child<QCheckBox>(QStringLiteral("INP1ON1"))->click();
        QCOMPARE(rig.inputs().overrideView(1).boxes[0], 1);
        rig.inputs().reread();
        QVERIFY(!rig.child<QCheckBox>(QStringLiteral("INP1ON1"))->isChecked());
        QCOMPARE(rig.inputs().overrideView(1).boxes[0], 0);
    }

    void bothFileFieldsShowOneStoredName_data()
    {
        QTest::addColumn<bool>("input5Last");
        QTest::newRow("filebox1 typed last") << true;
        QTest::newRow("FILEBox2 typed last") << false;
    }
    void bothFileFieldsShowOneStoredName()
    {
        QFETCH(bool, input5Last);
        InputsRig rig;
        rig.open().show();
        auto* box2 = rig.child<QLineEdit>(QStringLiteral("FILEBox2"));
        auto* box1 = rig.child<QLineEdit>(QStringLiteral("filebox1"));
        QLineEdit* first = input5Last ? box2 : box1;
        QLineEdit* last = input5Last ? box1 : box2;
        QTest::keyClicks(first, QStringLiteral("first.wav"));
        QTest::keyClicks(last, QStringLiteral("second.wav"));
        rig.child<QPushButton>(QStringLiteral("Command1"))->click();
        QCOMPARE(rig.stored(QStringLiteral("file1")), QStringLiteral("second.wav"));
        rig.restart();
        QCOMPARE(rig.child<QLineEdit>(QStringLiteral("FILEBox2"))->text(), QStringLiteral("second.wav"));
        QCOMPARE(rig.child<QLineEdit>(QStringLiteral("filebox1"))->text(), QStringLiteral("second.wav"));
    }

    void holdTimeIsStoredOnOk()
    {
        InputsRig rig;
        rig.open().show();
        auto* hold = rig.child<ui::TimeBox>(QStringLiteral("INP3TIME"));
        hold->lineEdit()->selectAll();
        QTest::keyClicks(hold->lineEdit(), QStringLiteral("0:00:30"));
        QVERIFY(rig.inputs().holdTime().isChanged());
        rig.child<QPushButton>(QStringLiteral("Command1"))->click();
        QCOMPARE(rig.stored(QStringLiteral("INP3TIME")), QStringLiteral("00:00:30"));
        rig.restart();
        QCOMPARE(rig.child<ui::TimeBox>(QStringLiteral("INP3TIME"))->text(), QStringLiteral("00:00:30"));
    }

    void badHoldTimeIsRefusedAndComesBack_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("letter over a digit") << "00:0a:30";
        QTest::newRow("empty") << "";
        QTest::newRow("24 hours") << "24:00:00";
    }
    void badHoldTimeIsRefusedAndComesBack()
    {
        QFETCH(QString, typed);
        ui::RecordingMessenger messages;
        InputsRig rig;
        rig.db->writeSettings({{QStringLiteral("INP3TIME"), QStringLiteral("00:01:00")}});
        auto& w = rig.open();
        w.show();
        auto* hold = rig.child<ui::TimeBox>(QStringLiteral("INP3TIME"));
        hold->lineEdit()->selectAll();
        QTest::keyClick(hold->lineEdit(), Qt::Key_Delete);
        QTest::keyClicks(hold->lineEdit(), typed);
        QCOMPARE(hold->text(), typed);
        rig.child<QCheckBox>(QStringLiteral("INP1ON2"))->click();
        rig.child<QPushButton>(QStringLiteral("Command1"))->click();

        QCOMPARE(messages.modals, QStringList{model::kInputsTimeFormatMessage});
        QCOMPARE(messages.titles, QStringList{QStringLiteral("KESTRA3")});
        QCOMPARE(rig.stored(QStringLiteral("INP3TIME")), QStringLiteral("00:01:00"));
        QCOMPARE(hold->text(), QStringLiteral("00:01:00"));
        QVERIFY(!rig.inputs().holdTime().isChanged());
        // The bound fields were committed before the hold time was refused.
        QCOMPARE(rig.stored(QStringLiteral("1INP ON2")), QStringLiteral("True"));
        // Nothing is left pending that could raise the message again.
        rig.child<QPushButton>(QStringLiteral("Command1"))->click();
        rig.restart();
        QCOMPARE(messages.modals.size(), 1);
    }

    void badHoldTimeRereadFromOutside()
    {
        // A channel's error routine re-reads this window after its own message.
        ui::RecordingMessenger messages;
        InputsRig rig;
        auto& w = rig.open();
        auto* hold = rig.child<ui::TimeBox>(QStringLiteral("INP3TIME"));
        w.show();
        QTest::keyClicks(hold->lineEdit(), QStringLiteral("x"));
        QVERIFY(rig.inputs().holdTime().isChanged());
        rig.inputs().reread();
        QCOMPARE(hold->text(), QStringLiteral("00:00:00"));
        QCOMPARE(rig.inputs().overrideView(1).inp3Time, QStringLiteral("00:00:00"));
        QCOMPARE(rig.stored(QStringLiteral("INP3TIME")), QStringLiteral("00:00:00"));
        QVERIFY(messages.modals.isEmpty());
    }

    void editingTheHoldTimeResetsTheStart()
    {
        InputsRig rig;
        auto& w = rig.open();
        w.show();
        rig.setStatus(0x58); // input 3 ON
        rig.clock.set(QDateTime(QDate(2024, 3, 4), QTime(10, 0, 10)));
        rig.inputs().cycle();
        rig.setStatus(0x78);
        rig.inputs().cycle();
        QCOMPARE(rig.inputs().holdStart(), QStringLiteral("10:00:10"));

        // Picking an entry from the list
        auto* hold = rig.child<ui::TimeBox>(QStringLiteral("INP3TIME"));
        const int index = hold->findText(QStringLiteral("00:00:30"));
        QVERIFY(index >= 0);
        hold->setCurrentIndex(index);
        emit hold->activated(index);
        QCOMPARE(rig.inputs().holdStart(), QStringLiteral("00:00:00"));
        QCOMPARE(rig.inputs().overrideView(3).inp3Time, QStringLiteral("00:00:30"));

        // and typing both count as an edit.
        rig.setStatus(0x58);
        rig.inputs().cycle();
        rig.setStatus(0x78);
        rig.inputs().cycle();
        QTest::keyClick(hold->lineEdit(), Qt::Key_Backspace);
        QCOMPARE(rig.inputs().holdStart(), QStringLiteral("00:00:00"));
    }

    // The clock set back a minute during a 10 s hold: the hold runs out its
    // time and does not come back when the clock reaches the old stamp.
    void holdAcrossAClockSetBack()
    {
        InputsRig rig;
        rig.db->writeSettings({{QStringLiteral("INP3TIME"), QStringLiteral("00:00:10")}});
        rig.open();
        const auto holding = [&](const QTime& t) {
            rig.clock.set(QDateTime(QDate(2024, 3, 4), t));
            rig.inputs().cycle();
            return inputs::holdEnd(rig.inputs().overrideView(1), rig.clock.now()).has_value();
        };
        rig.setStatus(0x58); // input 3 ON
        QVERIFY(holding(QTime(12, 0, 0)));
        rig.setStatus(0x78);
        QVERIFY(holding(QTime(12, 0, 5)));
        QVERIFY(holding(QTime(11, 59, 5))); // 5 s of the hold left
        QVERIFY(holding(QTime(11, 59, 9)));
        QVERIFY(!holding(QTime(11, 59, 10)));
        QVERIFY(!holding(QTime(12, 0, 3)));
    }

    // The rows of input 2 and the hold box carry visible labels, placed where
    // they cover nothing of the fixed layout.
    void labelsStandClearOfTheControls()
    {
        InputsRig rig;
        auto& w = rig.open();
        w.show();
        QCOMPARE(rig.child<QLabel>("lblTurnsOn2")->text(), QStringLiteral("Turns On"));
        QCOMPARE(rig.child<QLabel>("lblTurnsOff2")->text(), QStringLiteral("Turns Off"));
        QCOMPARE(rig.child<QLabel>("lblHoldTime")->buddy(), rig.child<QWidget>("INP3TIME"));
        QList<QWidget*> shown;
        for (QWidget* c : w.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (c->isVisible()) shown << c;
        for (QLabel* l : w.findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
            QVERIFY2(w.rect().contains(l->geometry()), qPrintable(l->objectName()));
            for (QWidget* c : shown)
                QVERIFY2(c == l || !c->geometry().intersects(l->geometry()),
                         qPrintable(l->objectName() + " covers " + c->objectName()));
        }
    }

    // A set box of an output that is not in AUTO does nothing: its column is
    // marked and the line at the top names the output, until it is in AUTO.
    void mappingOfAnOutputNotInAutoIsMarked()
    {
        InputsRig rig;
        auto& w = rig.open();
        std::array<channels::Mode, 8> modes;
        modes.fill(channels::Mode::Auto);
        modes[3] = channels::Mode::None;
        w.showModes(modes);
        auto* mark = rig.child<QLabel>(QStringLiteral("lblNotAuto4"));
        QVERIFY(!mark->isVisibleTo(&w)); // nothing set in its column yet
        rig.child<QCheckBox>(QStringLiteral("INP2OFF4"))->click();
        QVERIFY(mark->isVisibleTo(&w));
        QVERIFY(!rig.child<QLabel>(QStringLiteral("lblNotAuto3"))->isVisibleTo(&w));
        QCOMPARE(rig.child<QLabel>(QStringLiteral("lblNotAuto"))->toolTip(),
                 QStringLiteral("Output 4 has no mode: select AUTO"));
        modes[3] = channels::Mode::Auto;
        w.showModes(modes);
        QVERIFY(!mark->isVisibleTo(&w));
        QVERIFY(!rig.child<QLabel>(QStringLiteral("lblNotAuto"))->isVisibleTo(&w));
    }

    void closeBoxHidesAndCommits()
    {
        InputsRig rig;
        auto& w = rig.open(true);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        rig.child<QCheckBox>(QStringLiteral("INP3OFF1"))->click();
        QVERIFY(!w.close());
        QVERIFY(w.isHidden());
        QCOMPARE(rig.stored(QStringLiteral("3INP OFF1")), QStringLiteral("True"));
        QVERIFY(rig.timer()->isActive());
        rig.setStatus(0x80);
        QTRY_COMPARE(rig.inputs().levelText(5), QStringLiteral("INPUT 5 ON"));
    }

    void unloadStopsAndSaves()
    {
        InputsRig rig;
        rig.open(true);
        rig.child<QCheckBox>(QStringLiteral("INP2ON8"))->click();
        rig.inputs().unload();
        QVERIFY(!rig.timer()->isActive());
        QCOMPARE(rig.stored(QStringLiteral("2INP ON8")), QStringLiteral("True"));
    }

private:
    QTemporaryDir m_home;
};

QTEST_MAIN(TstInputsWindow)
#include "tst_inputswindow.moc"
