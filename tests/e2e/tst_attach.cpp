// Another process attached to a running `kestra3 --headless` through its API:
// the switch goes on untouched while clients edit, each client sees the other's
// edit, and clients notice the switch's death and attach again when it is back.

#include "base/buildconfig.h"
#include "client/apirequest.h"
#include "client/endpoint.h"
#include "client/remoteswitch.h"
#include "logic/week/weekmodel.h"
#include "shell/aboutwindow.h"
#include "shell/attachedwindow.h"
#include "storage/store/schema.h"
#include "tests/support/sandbox.h"
#include "views/calendar/calendarwindow.h"
#include "views/channels/channelwindow.h"
#include "views/channels/pulseframe.h"
#include "views/history/historywindow.h"
#include "views/inputs/inputswindow.h"
#include "views/week/weekview.h"
#include "views/widgets/elidedlabel.h"
#include "views/widgets/messenger.h"
#include "views/widgets/timebox.h"

#include <QAction>
#include <QCheckBox>
#include <QHelpEvent>
#include <QComboBox>
#include <QDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

using namespace e2e;
using kestra::client::CommandResult;
using kestra::client::RemoteSwitch;

// A service of the build running in a sandbox, and a program's windows
// attached to it beside a second client that sees what the windows did.
struct Attached
{
    Sandbox box;
    std::unique_ptr<Program> service;
    RemoteSwitch remote{kestra::kestra3Config()};
    RemoteSwitch other{kestra::kestra3Config()};
    std::unique_ptr<kestra::shell::AttachedWindow> main;
    int byte = 0; // the port's data byte when the windows attached

    Attached()
    {
        QSettings ini(box.iniPath(kestra3()), QSettings::IniFormat);
        ini.setValue(QStringLiteral("Api/Port"), 0); // beside a switch of the user's
        ini.sync();
        // This process is the client: it finds the switch where the programs look.
        qputenv("XDG_RUNTIME_DIR", box.runtime().toLocal8Bit());
    }
    // False (with the service's words in `why`) when it did not come up.
    bool startService()
    {
        service = std::make_unique<Program>(box, kestra3());
        service->setArguments({QStringLiteral("--headless")});
        return service->start() && service->waitRunning();
    }
    bool attachWindows()
    {
        if (!startService()) return false;
        byte = box.port(kestra3()).data;
        main = std::make_unique<kestra::shell::AttachedWindow>(remote, kestra::kestra3Config());
        remote.start();
        other.start();
        if (!waitUntil([&] { return remote.isAttached() && other.isAttached(); }, 5s)) return false;
        main->show();
        return true;
    }
    QString why() const { return service ? service->standardError() : QString(); }
};

class TestAttach : public QObject
{
    Q_OBJECT

    static CommandResult send(RemoteSwitch& r, const QJsonObject& command)
    {
        CommandResult got;
        bool done = false;
        r.send(command, [&](const CommandResult& c) {
            got = c;
            done = true;
        });
        waitUntil([&] { return done; }, 5s);
        return got;
    }

private slots:
    void clientsEditWhileTheSwitchKeepsItsByte()
    {
        Attached at;
        QVERIFY2(at.startService(), qPrintable(at.why()));
        Sandbox& box = at.box;
        Program& k = *at.service;
        const int byte = box.port(kestra3()).data;

        RemoteSwitch &a = at.remote, &b = at.other;
        a.start();
        b.start();
        QVERIFY(waitUntil([&] { return a.isAttached() && b.isAttached(); }, 5s));
        QCOMPARE(b.title(), QStringLiteral("KESTRA3"));
        QCOMPARE(b.output(3).mode, QStringLiteral("none"));

        // A day ticked and a time typed in one view show in the other as a draft.
        QVERIFY(send(a, {{"command", "day"}, {"output", 3}, {"day", 2}, {"ticked", true}}).ok());
        QVERIFY(send(a, {{"command", "time"}, {"output", 3}, {"index", 0}, {"text", "07:30:00"}}).ok());
        QVERIFY(waitUntil([&] { return b.output(3).days[2] && b.output(3).times.at(0).seconds == 27000; }, 5s));
        QVERIFY(b.output(3).unsaved);
        // The switch's own refusal comes back with its window's number and text.
        const CommandResult bad = send(b, {{"command", "time"}, {"output", 3}, {"index", 0}, {"text", "25:00:00"}});
        QCOMPARE(bad.status, 422);
        QCOMPARE(bad.number, 13);
        QVERIFY(bad.text.contains(QStringLiteral("hh:mm:ss")));
        // OK in the other view stores the draft both saw.
        QVERIFY(send(b, {{"command", "time"}, {"output", 3}, {"index", 0}, {"text", "07:30:00"}}).ok());
        QVERIFY(send(b, {{"command", "ok"}, {"output", 3}}).ok());
        QVERIFY(waitUntil([&] { return !a.output(3).unsaved; }, 5s));
        QCOMPARE(box.field(kestra3(), QStringLiteral("start3a")), QStringLiteral("07:30:00"));

        // No mode chosen on output 3: nothing of this reached the port.
        QCOMPARE(box.port(kestra3()).data, byte);
        QCOMPARE(k.process().state(), QProcess::Running);

        // "Stop the time switch" of an attached program: the clean end of a SIGTERM.
        const CommandResult stopped = send(a, {{"command", "stop"}});
        QVERIFY2(stopped.ok(), qPrintable(QStringLiteral("%1 %2").arg(stopped.status).arg(stopped.text)));
        // The answer comes first; the switch may have ended while it was read.
        QVERIFY(k.process().state() == QProcess::NotRunning || k.process().waitForFinished(5000));
        QCOMPARE(k.process().exitCode(), 0);
        QVERIFY(!QFileInfo::exists(box.runtime() + QStringLiteral("/kestra/kestra3-api.json")));
    }

    // The windows of an attached program, driven as a person would: an edit in
    // a channel window reaches the switch and a second client; the windows say
    // at once that the switch died, refuse edits, and show it again once it is back.
    void windowsSeeTheSwitchDieAndComeBack()
    {
        kestra::ui::RecordingMessenger messages;
        Attached at;
        QVERIFY2(at.attachWindows(), qPrintable(at.why()));
        Sandbox& box = at.box;
        auto& k = at.service;
        const int byte = at.byte;
        RemoteSwitch &remote = at.remote, &other = at.other;
        kestra::shell::AttachedWindow& main = *at.main;
        auto* status = main.findChild<QLineEdit*>(QStringLiteral("Status3"));
        auto* portLine = main.findChild<kestra::ui::ElidedLabel*>(QStringLiteral("lblPort"));
        QVERIFY(status && portLine);
        QCOMPARE(status->text(), other.output(3).state);

        main.showChannel(3);
        QWidget* form = main.channelWindow(3);
        QCOMPARE(form->windowTitle(), other.output(3).caption);
        // The time boxes offer the switch's lists.
        QVERIFY(waitUntil([&] { return form->findChildren<kestra::ui::TimeBox*>().first()->count() > 0; }, 5s));
        QWidget* calendar = main.showCalendar(3);
        form->findChild<QCheckBox*>(QStringLiteral("Tuesday"))->click();
        QVERIFY(waitUntil([&] { return other.output(3).days[2]; }, 5s));
        form->findChild<QPushButton*>(QStringLiteral("Close1"))->click();
        QVERIFY(waitUntil([&] { return box.field(kestra3(), QStringLiteral("Tue3")) == QLatin1String("True"); },
                          5s));

        k->signal(SIGKILL);
        QVERIFY(k->process().waitForFinished(5000));
        QVERIFY(waitUntil([&] { return status->text() == QLatin1String("unknown"); }, 2s));
        QVERIFY(portLine->rest().startsWith(QStringLiteral("The time switch is not running")));
        // An open calendar is greyed and says so, without a box to dismiss.
        QVERIFY(!calendar->isEnabled() && calendar->windowTitle().endsWith("(the time switch is not running)"));
        QVERIFY(messages.modals.isEmpty());
        main.showChannel(3);
        form->findChild<QCheckBox*>(QStringLiteral("Monday"))->click();
        QVERIFY(waitUntil([&] { return !messages.notices.isEmpty(); }, 2s));
        QVERIFY(messages.notices.last().contains(QStringLiteral("not running")));
        QVERIFY(!form->findChild<QCheckBox*>(QStringLiteral("Monday"))->isChecked()); // no stale draft

        QVERIFY2(at.startService(), qPrintable(at.why()));
        QVERIFY(waitUntil([&] { return remote.isAttached() && status->text() == remote.output(3).state; }, 10s));
        QVERIFY(form->findChild<QCheckBox*>(QStringLiteral("Tuesday"))->isChecked());
        QCOMPARE(box.port(kestra3()).data, byte);
        QVERIFY(calendar->isEnabled());

        // The About window's polarity is the switch's too.
        QVERIFY(waitUntil([&] { return other.isAttached(); }, 10s));
        const bool fiveVolts = other.port().value(QStringLiteral("fiveVoltsOn")).toBool();
        main.showAbout();
        main.aboutWindow()->findChild<QCheckBox*>(QStringLiteral("sport"))->click();
        QVERIFY(waitUntil(
            [&] { return other.port().value(QStringLiteral("fiveVoltsOn")).toBool() != fiveVolts; }, 5s));
    }

    // The pulse controls of output 2 in an attached window: the lists and the
    // buttons steer the switch's pulse, and its minute counters show there.
    void pulseControlsSteerTheSwitchsPulse()
    {
        kestra::ui::RecordingMessenger messages;
        Attached at;
        QVERIFY2(at.attachWindows(), qPrintable(at.why()));
        at.main->showChannel(2);
        kestra::channels::PulseFrame* frame = at.main->channelWindow(2)->pulseFrame();
        QVERIFY(frame);
        QVERIFY(waitUntil([&] { return frame->onList()->count() == 60; }, 5s));
        const auto pulse = [&] { return at.other.output(2).pulse; };

        frame->onList()->setCurrentRow(
            frame->onList()->row(frame->onList()->findItems("3", Qt::MatchExactly)[0]));
        QVERIFY(waitUntil([&] { return pulse().value("onSelection").toString() == QLatin1String("3"); }, 5s));
        frame->findChild<QPushButton*>(QStringLiteral("PLSEON"))->click();
        QVERIFY(waitUntil([&] { return pulse().value("pulsing").toBool(); }, 5s));
        QCOMPARE(pulse().value("phase").toString(), QStringLiteral("ON"));
        QCOMPARE(frame->startCounter()->text(), QStringLiteral("0"));
        // The switch's selection wins over a stale one: another client's choice shows here.
        QVERIFY(send(at.other, {{"command", "pulseSelect"}, {"output", 2}, {"list", "off"}, {"entry", "7"}})
                    .ok());
        QVERIFY(waitUntil(
            [&] {
                return frame->offList()->currentItem() &&
                       frame->offList()->currentItem()->text() == QLatin1String("7");
            },
            5s));
        frame->findChild<QPushButton*>(QStringLiteral("PLSEOFF"))->click();
        QVERIFY(waitUntil([&] { return !pulse().value("pulsing").toBool(); }, 5s));
        QVERIFY(messages.notices.isEmpty());
        QCOMPARE(at.service->process().state(), QProcess::Running);
    }

    // "Sun, holidays and presence" reached from an attached output window: a
    // fault is refused with the switch's words before anything is stored, and
    // OK then stores every change of the window, a removed holiday row included.
    void calendarWindowStoresThroughTheSwitch()
    {
        kestra::ui::RecordingMessenger messages;
        Attached at;
        QVERIFY2(at.attachWindows(), qPrintable(at.why()));
        for (const char* name : {"Christmas", "Easter"})
            QVERIFY(send(at.other, {{"command", "calendarHoliday"},
                                    {"name", name},
                                    {"from", "2027-03-28"},
                                    {"to", "2027-04-05"},
                                    {"outputs", QJsonArray{3}}})
                        .ok());
        const auto calendar = [&] { return QJsonValue(at.other.calendar()); };
        const auto holidays = [&](const RemoteSwitch& r) { return r.calendar().value("holidays").toArray(); };
        QVERIFY(waitUntil([&] { return holidays(at.remote).size() == 2; }, 5s));

        at.main->showChannel(3);
        at.main->channelWindow(3)->findChild<QPushButton*>(QStringLiteral("btnCalendar"))->click();
        QWidget* form = at.main->calendarWindow();
        QVERIFY(form && form->isVisible());
        const auto field = [&](const char* name) { return form->findChild<QLineEdit*>(QLatin1String(name)); };
        QCOMPARE(form->findChild<QTableWidget*>(QStringLiteral("lstHolidays"))->rowCount(), 2);

        field("txtLatitude")->setText(QStringLiteral("95"));
        field("txtLongitude")->setText(QStringLiteral("13.405"));
        form->findChild<QSpinBox*>(QStringLiteral("spnPresence"))->setValue(10);
        form->findChild<QPushButton*>(QStringLiteral("btnCalendarOk"))->click();
        QCOMPARE(messages.modals.size(), 1);
        QVERIFY2(messages.modals.last().contains(QStringLiteral("latitude 95")),
                 qPrintable(messages.modals.last()));
        QVERIFY(form->isVisible());
        QTest::qWait(200); // nothing of it may arrive
        QCOMPARE(calendar()["place"]["set"].toBool(), false);
        QCOMPARE(calendar()["outputs"][2]["presence"].toInt(), 0);

        field("txtLatitude")->setText(QStringLiteral("52.52"));
        auto* kind = form->findChild<QComboBox*>(QStringLiteral("cboStartAnchora"));
        kind->setCurrentIndex(kind->findText(QStringLiteral("sunset")));
        field("txtStartOffseta")->setText(QStringLiteral("-0:15"));
        field("txtStartNotBeforea")->setText(QStringLiteral("17:00:00"));
        form->findChild<QTableWidget*>(QStringLiteral("lstHolidays"))->setCurrentCell(0, 0);
        form->findChild<QPushButton*>(QStringLiteral("btnRemoveHoliday"))->click();
        form->findChild<QPushButton*>(QStringLiteral("btnCalendarOk"))->click();
        QVERIFY(waitUntil([&] { return !form->isVisible(); }, 5s));
        QCOMPARE(messages.modals.size(), 1);
        // The other client hears of it through the switch's events.
        QVERIFY(waitUntil([&] { return holidays(at.other).size() == 1; }, 5s));
        QCOMPARE(calendar()["place"]["latitude"].toDouble(), 52.52);
        QCOMPARE(calendar()["outputs"][2]["presence"].toInt(), 10);
        const QJsonValue start = calendar()["outputs"][2]["switchings"][0]["start"];
        QCOMPARE(start["kind"].toString(), QStringLiteral("sunset"));
        QCOMPARE(start["offset"].toInt(), -900);
        QCOMPARE(start["notBefore"].toString(), QStringLiteral("17:00:00"));
        QCOMPARE(holidays(at.other).size(), 1);
        QCOMPARE(holidays(at.other)[0].toObject()["name"].toString(), QStringLiteral("Easter"));
        QCOMPARE(at.box.port(kestra3()).data, at.byte);
    }

    // The week of an attached program is the switch's: computed here from the
    // switch's drafts and calendar (presence drawn as the switch draws it), it
    // equals the week the switch serves, and follows an edit made elsewhere.
    void weekIsTheSwitchsWeek()
    {
        Attached at;
        QVERIFY2(at.attachWindows(), qPrintable(at.why()));
        const auto endpoint = kestra::api::readEndpoint(kestra::kestra3Config());
        QVERIFY(endpoint);
        const kestra::api::Client api(endpoint->port, endpoint->token);
        using Periods = QList<QPair<int, int>>;
        const auto served = [&] {
            Periods out;
            const QJsonObject o = QJsonDocument::fromJson(api.get("/api/web/week").body).object();
            for (const QJsonValue& v : o["outputs"][2]["on"].toArray())
                out << qMakePair(v[0].toInt(), v[1].toInt());
            return out;
        };
        const auto shown = [&] {
            Periods out;
            for (const kestra::week::Interval& i : at.main->weekModel().picture(3).week.periods())
                out << qMakePair(i.from, i.to);
            return out;
        };
        for (int d = 0; d < 7; ++d)
            QVERIFY(send(at.other, {{"command", "day"}, {"output", 3}, {"day", d}, {"ticked", true}}).ok());
        QVERIFY(
            send(at.other, {{"command", "time"}, {"output", 3}, {"index", 0}, {"text", "18:00:00"}}).ok());
        QVERIFY(
            send(at.other, {{"command", "time"}, {"output", 3}, {"index", 1}, {"text", "05:00:00"}}).ok());
        QVERIFY(send(at.other, {{"command", "mode"}, {"output", 3}, {"mode", "AUTO"}}).ok());
        QVERIFY(send(at.other, {{"command", "calendarPresence"}, {"output", 3}, {"minutes", 30}}).ok());

        at.main->findChild<QPushButton*>(QStringLiteral("cmdWeek"))->click();
        QVERIFY(at.main->weekView() && at.main->weekView()->isVisible());
        QVERIFY(waitUntil([&] { return shown().size() == 7 && shown() == served(); }, 5s));
        // Presence moved the switchings: a week without the switch's draws would show 18:00 sharp.
        const Periods before = shown();
        QVERIFY(std::any_of(before.begin(), before.end(),
                            [](auto p) { return p.first % 86400 != 18 * 3600 + 1; }));

        QVERIFY(
            send(at.other, {{"command", "time"}, {"output", 3}, {"index", 0}, {"text", "19:00:00"}}).ok());
        QVERIFY(waitUntil([&] { return shown() != before && shown() == served(); }, 5s));
    }

    // The history window of an attached program lists what the switch wrote to
    // its file, and resets an output's hours in the switch, not in a copy.
    void historyWindowShowsTheSwitchsRecords()
    {
        Attached at;
        QVERIFY2(at.attachWindows(), qPrintable(at.why()));
        QVERIFY(send(at.other, {{"command", "mode"}, {"output", 3}, {"mode", "ON"}}).ok());
        QVERIFY(waitUntil([&] { return at.box.port(kestra3()).data != at.byte; }, 5s));

        at.main->findChild<QAction*>(QStringLiteral("mnuHistory"))->trigger();
        kestra::history::HistoryWindow* form = at.main->historyWindow();
        QVERIFY(form && form->isVisible());
        const auto listed = [&] {
            return std::any_of(form->rows().begin(), form->rows().end(), [](const kestra::history::Row& r) {
                return r.line == QLatin1String("Output 3") && r.state == QLatin1String("ON");
            });
        };
        // The switch writes its records once a second at most.
        QVERIFY(waitUntil(
            [&] {
                form->refresh();
                return listed();
            },
            5s, 200));

        // The Status field's tip gives the hours as they are now, not as of the output's last event.
        auto* status = at.main->findChild<QLineEdit*>(QStringLiteral("Status3"));
        QTest::qWait(1100);
        const QString tip = at.main->statusTip(3);
        QVERIFY2(tip.contains(QStringLiteral("Output 3 was ON today 0:00:0")), qPrintable(tip));
        QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), status->mapToGlobal(QPoint(2, 2)));
        QCoreApplication::sendEvent(status, &hover);
        QVERIFY(waitUntil([&] { return at.main->statusTip(3) != tip; }, 5s));

        const QString since = at.other.output(3).hours.value("since").toString();
        QTest::qWait(1100); // a reset now is a second later than the hours' start
        form->setConfirm([](const QString&) { return true; });
        auto* hours = form->findChild<QTableWidget*>(QStringLiteral("tblHours"));
        hours->setCurrentCell(2, 0);
        form->findChild<QPushButton*>(QStringLiteral("cmdResetHours"))->click();
        QVERIFY(waitUntil(
            [&] { return at.other.output(3).hours.value(QStringLiteral("since")).toString() != since; }, 5s));
        QCOMPARE(at.other.output(4).hours.value("since").toString(), since);
    }

    // File, "Home automation (MQTT)..." of an attached program edits the
    // switch's link: the password never reaches the window, a refusal that only
    // the switch can make shows in the window's own words, and OK stores in the
    // switch's placement file, the password kept, for every client to hear.
    void mqttWindowStoresThroughTheSwitch()
    {
        Attached at;
        QSettings ini(at.box.iniPath(kestra3()), QSettings::IniFormat);
        ini.setValue(QStringLiteral("MQTT/Host"), QStringLiteral("127.0.0.1"));
        ini.setValue(QStringLiteral("MQTT/Password"), QStringLiteral("s3cret"));
        ini.sync();
        QVERIFY2(at.attachWindows(), qPrintable(at.why()));
        at.main->findChild<QAction*>(QStringLiteral("mnuMqtt"))->trigger();
        auto* form = at.main->findChild<QDialog*>(QStringLiteral("frmMqtt"));
        QVERIFY(form && form->isVisible());
        const auto field = [&](const char* name) { return form->findChild<QLineEdit*>(QLatin1String(name)); };
        QCOMPARE(field("txtHost")->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(field("txtPassword")->text(), QString());

        field("txtHost")->setText(QStringLiteral("elsewhere.example"));
        form->findChild<QPushButton*>(QStringLiteral("Apply"))->click();
        auto* state = form->findChild<QLabel*>(QStringLiteral("lblState"));
        QVERIFY2(
            waitUntil(
                [&] { return state->text().startsWith(QStringLiteral("Not saved: the stored password")); },
                5s),
            qPrintable(state->text()));

        // Stored while the link stays off: only the settings changed, and the other client hears of it.
        field("txtHost")->setText(QStringLiteral("127.0.0.1"));
        field("txtBaseTopic")->setText(QStringLiteral("/house/timers/"));
        form->findChild<QPushButton*>(QStringLiteral("Apply"))->click();
        QVERIFY(waitUntil(
            [&] { return at.other.mqtt()["settings"]["baseTopic"] == QStringLiteral("house/timers"); }, 5s));
        QCOMPARE(field("txtBaseTopic")->text(), QStringLiteral("house/timers"));

        form->findChild<QCheckBox*>(QStringLiteral("chkEnabled"))->setChecked(true);
        form->findChild<QPushButton*>(QStringLiteral("OK"))->click();
        QVERIFY(waitUntil([&] { return !form->isVisible(); }, 5s));
        ini.sync();
        QCOMPARE(ini.value(QStringLiteral("MQTT/Enabled")).toString(), QStringLiteral("true"));
        QCOMPARE(ini.value(QStringLiteral("MQTT/BaseTopic")).toString(), QStringLiteral("house/timers"));
        QCOMPARE(ini.value(QStringLiteral("MQTT/Password")).toString(), QStringLiteral("s3cret"));
        auto* label = at.main->findChild<QLabel*>(QStringLiteral("lblMqtt"));
        QVERIFY(waitUntil([&] { return label->isVisible() && label->text().startsWith("MQTT: "); }, 5s));
        QCOMPARE(at.box.port(kestra3()).data, at.byte);
    }

    // The inputs window of an attached program: it shows the port's inputs as
    // the switch reads them, and a mapping ticked there is the switch's draft,
    // stored by OK.
    void inputsWindowEditsTheSwitchsMapping()
    {
        Attached at;
        QVERIFY2(at.attachWindows(), qPrintable(at.why()));
        Sandbox& box = at.box;
        RemoteSwitch& other = at.other;
        kestra::shell::AttachedWindow& main = *at.main;
        main.findChild<QPushButton*>(QStringLiteral("INPUTS"))->click();
        QWidget* form = main.inputsWindow();
        QVERIFY(form->isVisible());

        auto* input1 = form->findChild<QLineEdit*>(QStringLiteral("INPUT1"));
        QVERIFY(box.writePort(kestra3(), 1, 0x80));
        QVERIFY2(waitUntil([&] { return input1->text() == QLatin1String("INPUT 1 ON"); }, 5s),
                 qPrintable(input1->text()));

        const auto mapped = [&] {
            return other.inputs()[QStringLiteral("mappings")][0][QStringLiteral("on")][3].toInt() == 1;
        };
        form->findChild<QCheckBox*>(QStringLiteral("INP1ON4"))->click();
        QVERIFY(waitUntil(mapped, 5s));
        const QString field = kestra::store::mappingField(1, true, 4);
        QCOMPARE(box.field(kestra3(), field), QStringLiteral("False"));
        form->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
        QVERIFY(!form->isVisible());
        QVERIFY(waitUntil([&] { return box.field(kestra3(), field) == QLatin1String("True"); }, 5s));
    }
};

QTEST_MAIN(TestAttach)
#include "tst_attach.moc"
