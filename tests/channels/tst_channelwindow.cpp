#include "model/errorroutine.h"
#include "storage/store/schema.h"
#include "views/channels/channelwindow.h"
#include "views/widgets/contrast.h"
#include "windowrig.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace kestra;
using namespace kestra::testing;
using channels::ChannelWindow;

namespace {
const QStringList kDays = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const QStringList kDayCaptions = {"Sun", "Mon", "Tue", "Wed", "Thr", "Fri", "Sat"};

// Time boxes of each channel with the list they offer ('s' start times, 'r' run times).
QList<QPair<QString, char>> timeBoxes(int m)
{
    switch (m) {
    case 4:
    case 5:
        return {{"time1a", 's'}, {"Run1a", 'r'}, {"time1b", 's'}, {"run1b", 'r'}};
    case 7:
        return {{"time1a", 's'}, {"Run1a", 's'}};
    case 8: {
        QList<QPair<QString, char>> out;
        for (QString k : {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}) {
            out << qMakePair((k >= "i" ? QStringLiteral("Time1") : QStringLiteral("time1")) + k, 's');
            out << qMakePair(QStringLiteral("Run1") + k, 'r');
        }
        return out;
    }
    default:
        return {{"time1a", 's'}, {"Run1a", 'r'}};
    }
}

// One row per channel window, column "m".
void everyChannel()
{
    QTest::addColumn<int>("m");
    for (int m = 1; m <= 8; ++m)
        QTest::addRow("Form%d", m) << m;
}

QRadioButton* mode(ChannelWindow& w, const char* name)
{
    return child<QRadioButton>(&w, QLatin1String(name) + QString::number(w.channel().number()));
}
} // namespace

class TstChannelWindow : public QObject
{
    Q_OBJECT
private slots:
    void showsANewDatabase_data() { everyChannel(); }
    void showsANewDatabase()
    {
        QFETCH(int, m);
        WindowRig rig;
        QWidget owner;
        rig.model.channel(m).load();
        ChannelWindow w(rig.model.channel(m), &owner);

        QCOMPARE(w.objectName(), QStringLiteral("Form%1").arg(m));
        QVERIFY(!w.isVisible());
        QCOMPARE(w.parentWidget(), &owner);
        QVERIFY(w.isWindow());
        QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(w.windowFlags() & Qt::WindowMinMaxButtonsHint));
        w.layout()->activate();
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QCOMPARE(w.windowTitle(), QStringLiteral(" %1     ").arg(m));

        for (int d = 0; d < 7; ++d) {
            auto* box = child<QCheckBox>(&w, kDays[d]);
            QCOMPARE(box->text(), kDayCaptions[d]);
            QVERIFY(!box->isChecked());
            QCOMPARE(w.channel().boundValue(store::dayField(m, d)), QStringLiteral("False"));
        }
        const QStringList modeTips = {"Select AUTO for start and run times", "For ON all the time.",
                                      "Select OFF to disable."};
        int i = 0;
        for (const char* name : {"AUTO", "ON", "OFF"}) {
            QRadioButton* b = mode(w, name);
            QCOMPARE(b->text(), QLatin1String(name));
            QCOMPARE(b->toolTip(), modeTips[i++]);
            QVERIFY(!b->isChecked());
        }
        for (const char* name : {"Auto", "On", "Off"})
            QCOMPARE(w.channel().boundValue(store::modeField(m, QLatin1String(name))),
                     QStringLiteral("False"));
        const QStringList starts = store::presetStartTimes();
        const QStringList runs = store::presetRunTimes();
        for (const auto& [name, list] : timeBoxes(m)) {
            auto* box = child<ui::TimeBox>(&w, name);
            QCOMPARE(box->text(), QStringLiteral("00:00:00"));
            QCOMPARE(box->count(), int(list == 's' ? starts.size() : runs.size()));
            QCOMPARE(box->itemText(1), list == 's' ? starts.at(1) : runs.at(1));
        }
        const bool timeTips = m <= 3;
        QCOMPARE(child<ui::TimeBox>(&w, "time1a")->toolTip(), timeTips ? "Time in hh:mm:ss" : "");
        QCOMPARE(child<ui::TimeBox>(&w, "Run1a")->toolTip(), timeTips ? "Time in hh:mm:ss" : "");
        if (m == 4 || m == 5)
            QCOMPARE(child<ui::TimeBox>(&w, "run1b")->toolTip(),
                     QStringLiteral("Set to 00:00:00 if not needed."));
        QCOMPARE(w.findChildren<ui::TimeBox*>().size(), timeBoxes(m).size());

        auto* status = child<QLineEdit>(&w, QStringLiteral("Status%1").arg(m));
        QCOMPARE(status->text(), QStringLiteral("calculating"));
        QCOMPARE(w.channel().state(), State::Calculating);
        QCOMPARE(child<QPushButton>(&w, "Close1")->text(), QStringLiteral("OK"));
        QTimer* timer1 = &w.channel().tickTimer();
        QVERIFY(timer1->isActive());
        QCOMPARE(timer1->interval(), 500);

        QStringList labels;
        for (QLabel* l : w.findChildren<QLabel*>())
            labels << l->text();
        QVERIFY(labels.contains("STATUS:"));
        QCOMPARE(labels.count("Start Time:"), (m == 4 || m == 5) ? 2 : 1);
        QCOMPARE(labels.count("Run Time:"), m == 7 ? 0 : (m == 4 || m == 5) ? 2 : 1);
        QCOMPARE(labels.count("Finish Time:"), m == 7 ? 1 : 0);
        QCOMPARE(labels.contains("Start Day"), m == 7);
        QCOMPARE(labels.contains("Finish Day"), m == 7);
        if (m == 7) {
            for (const char* n : {"SUNOFF", "MONOFF", "TUEOFF", "WEDOFF", "THROFF", "FRIOFF", "SATOFF"})
                QVERIFY(!child<QCheckBox>(&w, QLatin1String(n))->isChecked());
            for (const char* n : {"SUN7A", "MON7A", "TUE7A", "WED7A", "THR7A", "FRI7A", "SAT7A"})
                QCOMPARE(w.channel().boundValue(QLatin1String(n)), QStringLiteral("False"));
        }
        QCOMPARE(w.pulseFrame() != nullptr, m <= 2);

        const QList<QColor> colours = {{255, 192, 128}, {0, 255, 255}, {255, 128, 128}, {255, 128, 0},
                                       {0, 255, 0},     {0, 0, 255},   {255, 0, 255}};
        if (m <= 7) {
            QCOMPARE(w.palette().color(QPalette::Window), colours[m - 1]);
            QCOMPARE(mode(w, "AUTO")->palette().color(QPalette::Window), colours[m - 1]);
        } else {
            QCOMPARE(w.palette().color(QPalette::Window), QWidget().palette().color(QPalette::Window));
        }
    }

    // Every text of every channel window reads at 4.5:1 or better on what it
    // stands on, as the palettes of the real widgets say.
    void textIsReadableOnEveryWindowColour_data() { everyChannel(); }
    void textIsReadableOnEveryWindowColour()
    {
        QFETCH(int, m);
        WindowRig rig;
        auto w = rig.window(m);
        w->show();
        // What a widget is drawn on: a button fills itself, anything else shows
        // the nearest filled parent.
        const auto ground = [](const QWidget* c) {
            if (qobject_cast<const QPushButton*>(c)) return c->palette().color(QPalette::Button);
            while (!c->isWindow() && !c->autoFillBackground())
                c = c->parentWidget();
            return c->palette().color(c->backgroundRole());
        };
        int checked = 0;
        for (QWidget* c : w->findChildren<QWidget*>()) {
            const bool text =
                qobject_cast<QLabel*>(c) || qobject_cast<QAbstractButton*>(c) || qobject_cast<QGroupBox*>(c);
            if (!text || !c->isVisible()) continue;
            const QColor fg = c->palette().color(c->foregroundRole());
            auto* b = qobject_cast<QPushButton*>(c);
            if (b && m <= 7) // on a coloured window the fill the palette names is the one drawn
                QCOMPARE(b->grab().toImage().pixelColor(4, b->height() / 2), ground(b));
            const double ratio = ui::contrastRatio(fg, ground(c));
            QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1 %2: %3")
                                                  .arg(c->metaObject()->className(), c->objectName())
                                                  .arg(ratio)));
            ++checked;
        }
        QVERIFY(checked >= 13); // 7 days, 3 modes, labels, OK
    }

    // The main window writes Loc3 through its own copy; the channel window's
    // OK must not put its older copy back.
    void locationCopiesDoNotOverwriteEachOther()
    {
        WindowRig rig;
        rig.store("Loc3", "Old");
        auto w = rig.window(3);
        QCOMPARE(w->windowTitle(), QStringLiteral(" 3     Old"));
        rig.store("Loc3", "New");
        child<QCheckBox>(w.get(), "Friday")->click();
        child<QPushButton>(w.get(), "Close1")->click();
        QCOMPARE(rig.stored("Fri3"), QStringLiteral("True"));
        QCOMPARE(rig.stored("Loc3"), QStringLiteral("New"));
        w->channel().unload();
        QCOMPARE(rig.stored("Loc3"), QStringLiteral("New"));
    }

    void dayToggleClickedTwiceStoresFalse()
    {
        WindowRig rig;
        auto w = rig.window(3);
        auto* wed = child<QCheckBox>(w.get(), "Wednesday");
        wed->click();
        child<QPushButton>(w.get(), "Close1")->click();
        QVERIFY(!w->isVisible());
        QCOMPARE(rig.stored("Wed3"), QStringLiteral("True"));
        wed->click();
        QCOMPARE(w->channel().boundValue("Wed3"), QStringLiteral("False"));
        child<QPushButton>(w.get(), "Close1")->click();
        QCOMPARE(rig.stored("Wed3"), QStringLiteral("False"));
        QVERIFY(rig.messages.modals.isEmpty());
    }

    // Every view edits one draft: a day, a mode and a time changed elsewhere (as the API
    // changes them) show in the open window before anything is stored.
    void draftEditedElsewhereShows()
    {
        WindowRig rig;
        auto w = rig.window(3);
        model::Channel& c = rig.model.channel(3);
        c.clickDay(3, true);
        c.selectMode(channels::Mode::On);
        c.editTime(0, QStringLiteral("06:30:00"));
        QVERIFY(child<QCheckBox>(w.get(), "Wednesday")->isChecked());
        QVERIFY(mode(*w, "ON")->isChecked());
        QCOMPARE(child<ui::TimeBox>(w.get(), "time1a")->currentText(), QStringLiteral("06:30:00"));
        QCOMPARE(rig.stored("Wed3"), QStringLiteral("False"));
    }

    void storedModeFlags_data()
    {
        QTest::addColumn<int>("m");
        QTest::addColumn<QStringList>("flags"); // stored Auto, Off, On
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QStringList>("saved"); // Auto, Off, On after unload
        const QStringList onlyAuto = {"True", "False", "False"};
        QTest::newRow("AUTO and ON") << 3 << QStringList{"True", "False", "True"} << "AUTO" << onlyAuto;
        QTest::newRow("OFF and ON") << 3 << QStringList{"False", "True", "True"} << "OFF"
                                    << QStringList{"False", "True", "False"};
        QTest::newRow("all three") << 5 << QStringList{"True", "True", "True"} << "AUTO" << onlyAuto;
        QTest::newRow("channel 1 without digit")
            << 1 << QStringList{"False", "true", "-1"} << "OFF" << QStringList{"False", "True", "False"};
        QTest::newRow("none") << 6 << QStringList{"False", "False", "False"} << ""
                              << QStringList{"False", "False", "False"};
        QTest::newRow("unreadable texts load as cleared")
            << 3 << QStringList{"", "maybe", "True"} << "ON" << QStringList{"False", "False", "True"};
    }
    void storedModeFlags()
    {
        QFETCH(int, m);
        QFETCH(QStringList, flags);
        QFETCH(QString, selected);
        QFETCH(QStringList, saved);
        WindowRig rig;
        const QStringList fields = {store::modeField(m, "Auto"), store::modeField(m, "Off"),
                                    store::modeField(m, "On")};
        for (int i = 0; i < 3; ++i)
            rig.store(fields[i], flags[i]);
        auto w = rig.window(m);
        for (const char* name : {"AUTO", "OFF", "ON"})
            QCOMPARE(mode(*w, name)->isChecked(), selected == QLatin1String(name));
        w->channel().unload();
        for (int i = 0; i < 3; ++i)
            QCOMPARE(rig.stored(fields[i]), saved[i]);
    }

    void unreadableDayFlagLoadsCleared()
    {
        WindowRig rig;
        rig.store("Sun4", "");
        rig.store("Mon4", "1");
        auto w = rig.window(4);
        QVERIFY(!child<QCheckBox>(w.get(), "Sunday")->isChecked());
        QVERIFY(child<QCheckBox>(w.get(), "Monday")->isChecked());
        w->channel().unload();
        QCOMPARE(rig.stored("Sun4"), QStringLiteral("False"));
        QCOMPARE(rig.stored("Mon4"), QStringLiteral("1")); // readable flags are kept as they are
    }

    void chosenStartTimeSurvivesARestart()
    {
        WindowRig rig;
        {
            auto w = rig.window(3);
            w->show();
            pick(child<ui::TimeBox>(w.get(), "time1a"), "12:30:00");
            child<QPushButton>(w.get(), "Close1")->click();
            QVERIFY(!w->isVisible());
            QCOMPARE(rig.stored("Start3a"), QStringLiteral("12:30:00"));
            w->channel().unload();
        }
        auto again = rig.window(3);
        QCOMPARE(child<ui::TimeBox>(again.get(), "time1a")->text(), QStringLiteral("12:30:00"));
        QVERIFY(rig.messages.modals.isEmpty());
    }

    // Edits count at once and reach the record at the latest when the program ends.
    void unsavedEditsAreStoredAtUnload()
    {
        WindowRig rig;
        auto w = rig.window(8);
        child<QCheckBox>(w.get(), "Monday")->click();
        mode(*w, "AUTO")->click();
        typeInto(child<ui::TimeBox>(w.get(), "Time1j"), "18:00:00");
        typeInto(child<ui::TimeBox>(w.get(), "Run1j"), "0:30");
        rig.clock.set(monday(QTime(18, 15)));
        w->channel().tick();
        QCOMPARE(statusOf(*w), QStringLiteral("ON"));
        QCOMPARE(rig.stored("Start8j"), QStringLiteral("00:00:00"));
        w->channel().unload();
        QCOMPARE(rig.stored("Start8j"), QStringLiteral("18:00:00"));
        QCOMPARE(rig.stored("Run8j"), QStringLiteral("0:30"));
        QCOMPARE(rig.stored("Mon8"), QStringLiteral("True"));
        QCOMPARE(rig.stored("Auto8"), QStringLiteral("True"));
    }

    // A text that is not a time never reaches the record; the message shows and
    // the re-read (inputs window first) brings the stored value back.
    void badTimeTextIsRefused_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<int>("number");
        QTest::newRow("tick") << "tick" << 13;
        QTest::newRow("OK") << "ok" << 524;
        QTest::newRow("program end") << "unload" << 524;
    }
    void badTimeTextIsRefused()
    {
        QFETCH(QString, when);
        QFETCH(int, number);
        WindowRig rig;
        rig.store("Start3a", "07:15:00");
        auto w = rig.window(3);
        auto* box = child<ui::TimeBox>(w.get(), "time1a");
        QString seenByInputsReread;
        int inputsRereads = 0;
        QObject::connect(&rig.model.inputs(), &model::Inputs::recordChanged, [&] {
            ++inputsRereads;
            seenByInputsReread = box->text();
        });
        child<QCheckBox>(w.get(), "Tuesday")->click();
        typeInto(box, "07:1x:00");

        if (when == "tick")
            w->channel().tick();
        else if (when == "ok")
            child<QPushButton>(w.get(), "Close1")->click();
        else
            w->channel().unload();

        QCOMPARE(rig.messages.modals.size(), 1);
        QCOMPARE(rig.messages.titles.value(0), QStringLiteral("KESTRA3"));
        const QString text = rig.messages.modals.first();
        QVERIFY(
            text.startsWith(model::kTimeFormatMessage + QStringLiteral("\nError Number: %1\n").arg(number)));
        QCOMPARE(inputsRereads, 1);
        QCOMPARE(seenByInputsReread, QStringLiteral("07:1x:00"));
        QCOMPARE(rig.stored("Start3a"), QStringLiteral("07:15:00"));
        QCOMPARE(box->text(), QStringLiteral("07:15:00"));
        QVERIFY(!w->channel().time(0).isChanged());
        // The day toggled before the bad entry is not lost with it.
        QCOMPARE(rig.stored("Tue3"), QStringLiteral("True"));
        QVERIFY(child<QCheckBox>(w.get(), "Tuesday")->isChecked());
    }

    // A person types into a shown window at human speed while Timer1 ticks:
    // half-typed texts are neither evaluated nor reported, each text that
    // converts counts at once, and the edit is judged when it is finished.
    void typingATimeAtHumanSpeed_data()
    {
        QTest::addColumn<QString>("boxName");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("statuses"); // after each character
        QTest::addColumn<QString>("finish");   // Enter, Tab or OK
        QTest::addColumn<QString>("stored");   // Start3a or Run3a after OK
        // Stored: start 05:00:00, run 01:00:00, Monday, AUTO; the clock says 05:30.
        // clang-format off
        QTest::newRow("start, Enter")    << "time1a" << "05:40:00" << "ON ON ON ON OFF OFF OFF OFF" << "Enter" << "05:40:00";
        QTest::newRow("run, OK")         << "Run1a"  << "0:25"     << "ON ON ON OFF"                << "OK"    << "0:25";
        QTest::newRow("not a time, Tab") << "time1a" << "05:4x"    << "ON ON ON ON ON"              << "Tab"   << "05:00:00";
        // clang-format on
    }
    void typingATimeAtHumanSpeed()
    {
        QFETCH(QString, boxName);
        QFETCH(QString, typed);
        QFETCH(QString, statuses);
        QFETCH(QString, finish);
        QFETCH(QString, stored);
        constexpr int kLongerThanATick = 600;
        WindowRig rig;
        rig.store("Start3a", "05:00:00");
        rig.store("Run3a", "01:00:00");
        rig.store("Mon3", "True");
        rig.store("Auto3", "True");
        rig.clock.set(monday(QTime(5, 30)));
        auto w = rig.window(3);
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QTRY_COMPARE(statusOf(*w), QStringLiteral("ON"));
        auto* box = child<ui::TimeBox>(w.get(), boxName);
        box->setFocus();
        box->lineEdit()->selectAll();

        QStringList seen;
        for (const QChar c : typed) {
            QTest::keyClicks(box, QString(c));
            QTest::qWait(kLongerThanATick);
            seen << statusOf(*w);
        }
        QCOMPARE(box->text(), typed); // nothing completed inline
        QCOMPARE(seen.join(' '), statuses);
        QCOMPARE(rig.messages.modals, QStringList());

        if (finish == "Enter")
            QTest::keyClick(box, Qt::Key_Return);
        else if (finish == "Tab")
            QTest::keyClick(box, Qt::Key_Tab);
        auto* ok = child<QPushButton>(w.get(), "Close1");
        QTest::mouseClick(ok, Qt::LeftButton);
        QVERIFY(!w->isVisible());

        const QString field = boxName == "time1a" ? "Start3a" : "Run3a";
        QCOMPARE(rig.stored(field), stored);
        QCOMPARE(box->text(), stored);
        QCOMPARE(rig.messages.modals.size(), stored == typed ? 0 : 1);
        if (stored != typed) QVERIFY(rig.messages.modals.first().contains("\nError Number: 13\n"));
    }

    void statusFollowsTheScheduleEdges_data()
    {
        QTest::addColumn<int>("m");
        QTest::addColumn<QTime>("now");
        QTest::addColumn<QString>("status");
        // Start 12:00:00, run 00:30:00, Monday ticked, AUTO.
        QTest::newRow("3 at start") << 3 << QTime(12, 0, 0) << "OFF";
        QTest::newRow("3 second after start") << 3 << QTime(12, 0, 1) << "ON";
        QTest::newRow("3 second before end") << 3 << QTime(12, 29, 59) << "ON";
        QTest::newRow("3 at end") << 3 << QTime(12, 30, 0) << "OFF";
        QTest::newRow("4 at start") << 4 << QTime(12, 0, 0) << "ON";
        QTest::newRow("4 at end") << 4 << QTime(12, 30, 0) << "ON";
        QTest::newRow("4 after end") << 4 << QTime(12, 30, 1) << "OFF";
    }
    void statusFollowsTheScheduleEdges()
    {
        QFETCH(int, m);
        QFETCH(QTime, now);
        QFETCH(QString, status);
        WindowRig rig;
        rig.store(QStringLiteral("Start%1a").arg(m), "12:00:00");
        rig.store(QStringLiteral("Run%1a").arg(m), "00:30:00");
        rig.store(store::dayField(m, 1), "True");
        rig.store(store::modeField(m, "Auto"), "True");
        auto w = rig.window(m);
        rig.clock.set(monday(now));
        w->channel().tick();
        QCOMPARE(statusOf(*w), status);
        QCOMPARE(child<QLineEdit>(w.get(), QStringLiteral("Status%1").arg(m))->text(), status);
    }

    void inputsActInAutoOnly()
    {
        WindowRig rig;
        auto w = rig.window(6);
        mode(*w, "AUTO")->click();
        rig.model.inputs().clickMapping(1, true, 6, inputs::kBoxSet); // INP1ON6
        rig.readInputs(0xF8);                                         // input 1 ON
        w->channel().tick();
        QCOMPARE(statusOf(*w), QStringLiteral("ON"));
        mode(*w, "OFF")->click();
        w->channel().tick();
        QCOMPARE(statusOf(*w), QStringLiteral("OFF"));
    }

    void hiddenWindowTicksOnItsOwn()
    {
        WindowRig rig;
        rig.store("On2", "True");
        auto w = rig.window(2);
        QVERIFY(!w->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(statusOf(*w), QStringLiteral("ON"), 2000);
    }

    // A bad text freezes even a channel in ON mode; while its message is open
    // further ticks show no second message.
    void badTextFreezesTheStatus()
    {
        WindowRig rig;
        rig.store("On3", "True");
        rig.store("Run3a", "01:00:00");
        auto w = rig.window(3);
        w->channel().tick();
        QCOMPARE(statusOf(*w), QStringLiteral("ON"));
        QStringList seenWhileOpen;
        rig.messages.whileOpen = [&] {
            w->channel().tick();
            seenWhileOpen << statusOf(*w);
        };
        typeInto(child<ui::TimeBox>(w.get(), "Run1a"), "");
        w->channel().tick();
        QCOMPARE(rig.messages.modals.size(), 1);
        QCOMPARE(seenWhileOpen, QStringList{"ON"});
        QCOMPARE(statusOf(*w), QStringLiteral("ON"));
        QCOMPARE(child<ui::TimeBox>(w.get(), "Run1a")->text(), QStringLiteral("01:00:00"));
        rig.messages.whileOpen = nullptr;
        mode(*w, "OFF")->click();
        w->channel().tick();
        QCOMPARE(statusOf(*w), QStringLiteral("OFF"));
        QCOMPARE(rig.messages.modals.size(), 1);
    }

    // Channel 7: S 22:00:00, F 06:00:00 and the day rows; a few edges at window level.
    void startAndFinishDays_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("finish");
        QTest::addColumn<QStringList>("startDays");
        QTest::addColumn<QStringList>("finishDays");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("status");
        const QDateTime fri(QDate(2024, 1, 5), QTime(22, 0, 0));
        const QDateTime sat(QDate(2024, 1, 6), QTime(6, 0, 0));
        const QStringList friday{"Friday"};
        const QStringList fridayOff{"FRIOFF"};
        const QStringList saturdayOff{"SATOFF"};
        QTest::newRow("Friday evening at S") << "22:00:00"
                                             << "06:00:00" << friday << saturdayOff << fri << "ON";
        QTest::newRow("Friday before S") << "22:00:00"
                                         << "06:00:00" << friday << saturdayOff << fri.addSecs(-1) << "OFF";
        QTest::newRow("Saturday morning at F") << "22:00:00"
                                               << "06:00:00" << friday << saturdayOff << sat << "ON";
        QTest::newRow("Saturday after F") << "22:00:00"
                                          << "06:00:00" << friday << saturdayOff << sat.addSecs(1) << "OFF";
        QTest::newRow("same day both rows, morning")
            << "22:00:00"
            << "06:00:00" << friday << fridayOff << fri.addSecs(-17 * 3600) << "ON";
        QTest::newRow("within a day, start day only")
            << "08:00:00"
            << "17:00:00" << QStringList{"Monday"} << QStringList{} << monday(QTime(12, 0)) << "OFF";
        QTest::newRow("within a day, both rows")
            << "08:00:00"
            << "17:00:00" << QStringList{"Monday"} << QStringList{"MONOFF"} << monday(QTime(17, 0)) << "ON";
    }
    void startAndFinishDays()
    {
        QFETCH(QString, start);
        QFETCH(QString, finish);
        QFETCH(QStringList, startDays);
        QFETCH(QStringList, finishDays);
        QFETCH(QDateTime, now);
        QFETCH(QString, status);
        WindowRig rig;
        auto w = rig.window(7);
        mode(*w, "AUTO")->click();
        typeInto(child<ui::TimeBox>(w.get(), "time1a"), start);
        pick(child<ui::TimeBox>(w.get(), "Run1a"), finish); // the finish box offers clock times
        for (const QString& d : startDays + finishDays)
            child<QCheckBox>(w.get(), d)->click();
        rig.clock.set(now);
        w->channel().tick();
        QCOMPARE(statusOf(*w), status);
        child<QPushButton>(w.get(), "Close1")->click();
        QCOMPARE(rig.stored("Start7a"), start);
        QCOMPARE(rig.stored("Run7a"), finish);
        for (const QString& d : finishDays)
            QCOMPARE(rig.stored(d.left(3) + "7A"), QStringLiteral("True"));
    }

    void finishDaysAreRestored()
    {
        WindowRig rig;
        rig.store("THR7A", "True");
        auto w = rig.window(7);
        QVERIFY(child<QCheckBox>(w.get(), "THROFF")->isChecked());
        QVERIFY(!child<QCheckBox>(w.get(), "Thursday")->isChecked());
        QCOMPARE(w->channel().controls().finishDays[4], true);
    }

    // Channel 8, Monday ticked, AUTO; unused switchings at 03:00:00 + 00:00:00.
    void tenSwitchings_data()
    {
        QTest::addColumn<QStringList>("settings"); // box name, text, ...
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("status");
        const QStringList overlap{"time1a", "08:00:00", "Run1a", "02:00:00",
                                  "time1c", "09:00:00", "Run1c", "02:00:00"};
        QTest::newRow("overlap, inside both") << overlap << monday(QTime(9, 30)) << "ON";
        QTest::newRow("overlap, end of the second") << overlap << monday(QTime(11, 0)) << "ON";
        QTest::newRow("overlap, after") << overlap << monday(QTime(11, 0, 1)) << "OFF";
        const QStringList touch{"time1b", "06:00:00", "Run1b", "01:00:00",
                                "Time1i", "07:00:01", "Run1i", "00:10:00"};
        QTest::newRow("touching, no gap") << touch << monday(QTime(7, 0, 0)) << "ON";
        QTest::newRow("touching, next") << touch << monday(QTime(7, 0, 1)) << "ON";
        const QStringList late{"time1h", "23:00:00", "Run1h", "02:00:00"};
        QTest::newRow("over midnight, last second") << late << monday(QTime(23, 59, 59)) << "ON";
        QTest::newRow("over midnight, next day") << late << monday(QTime(0, 0)).addDays(1) << "OFF";
        const QStringList zero{"Time1j", "00:00:00", "Run1j", "00:00:00"};
        QTest::newRow("00:00:00 + 00:00:00") << zero << monday(QTime(0, 0)) << "ON";
        QTest::newRow("00:00:00 + 00:00:00, one second later") << zero << monday(QTime(0, 0, 1)) << "OFF";
    }
    void tenSwitchings()
    {
        QFETCH(QStringList, settings);
        QFETCH(QDateTime, now);
        QFETCH(QString, status);
        WindowRig rig;
        for (char k = 'a'; k <= 'j'; ++k)
            rig.store(QStringLiteral("Start8") + QLatin1Char(k), "03:00:00");
        rig.store("Mon8", "True");
        rig.store("Tue8", "True");
        rig.store("Auto8", "True");
        auto w = rig.window(8);
        for (int i = 0; i + 1 < settings.size(); i += 2)
            typeInto(child<ui::TimeBox>(w.get(), settings[i]), settings[i + 1]);
        rig.clock.set(now);
        w->channel().tick();
        QCOMPARE(statusOf(*w), status);
        QVERIFY(rig.messages.modals.isEmpty());
    }

    void badTextInLastSwitchingFreezesChannel8()
    {
        WindowRig rig;
        rig.store("Mon8", "True");
        rig.store("Auto8", "True");
        rig.store("Start8a", "06:00:00");
        rig.store("Run8a", "01:00:00");
        auto w = rig.window(8);
        rig.clock.set(monday(QTime(6, 30)));
        w->channel().tick();
        QCOMPARE(statusOf(*w), QStringLiteral("ON"));
        typeInto(child<ui::TimeBox>(w.get(), "Time1j"), "25:00:00");
        rig.clock.set(monday(QTime(8, 0)));
        w->channel().tick();
        QCOMPARE(statusOf(*w), QStringLiteral("ON"));
        QCOMPARE(rig.messages.modals.size(), 1);
        QCOMPARE(child<ui::TimeBox>(w.get(), "Time1j")->text(), QStringLiteral("00:00:00"));
        w->channel().tick();
        QCOMPARE(statusOf(*w), QStringLiteral("OFF"));
    }
};

QTEST_MAIN(TstChannelWindow)
#include "tst_channelwindow.moc"
