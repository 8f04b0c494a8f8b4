#include "storage/calendar/file.h"
#include "tests/channels/windowrig.h"
#include "views/calendar/calendarwindow.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

using namespace kestra;
using kestra::testing::child;

// Wiring only: the output's window opens the calendar window for its output;
// OK stores what the fields say and the ticks follow it; a bad field is
// refused with its fault and nothing is stored.
class TstCalendarWindow : public QObject
{
    Q_OBJECT
private slots:
    void porchLightAtSunset()
    {
        testing::WindowRig rig;
        auto form3 = rig.window(3);
        QSignalSpy asked(form3.get(), &channels::ChannelWindow::calendarRequested);
        child<QPushButton>(form3.get(), QStringLiteral("btnCalendar"))->click();
        QCOMPARE(asked.value(0).value(0).toInt(), 3);

        calendarview::CalendarWindow w(rig.model, nullptr);
        w.showOutput(3);
        QCOMPARE(w.objectName(), QStringLiteral("frmCalendar"));
        child<QLineEdit>(&w, QStringLiteral("txtLatitude"))->setText(QStringLiteral("52.52"));
        child<QLineEdit>(&w, QStringLiteral("txtLongitude"))->setText(QStringLiteral("13.405"));
        auto* anchor = child<QComboBox>(&w, QStringLiteral("cboStartAnchora"));
        anchor->setCurrentIndex(anchor->findText(QStringLiteral("sunset")));
        child<QLineEdit>(&w, QStringLiteral("txtStartOffseta"))->setText(QStringLiteral("-0:15"));
        child<QLineEdit>(&w, QStringLiteral("txtStartNotBeforea"))->setText(QStringLiteral("17:00:00"));
        child<QSpinBox>(&w, QStringLiteral("spnPresence"))->setValue(10);
        child<QPushButton>(&w, QStringLiteral("btnCalendarOk"))->click();
        QVERIFY2(rig.messages.modals.isEmpty(), qPrintable(rig.messages.modals.join(QLatin1Char('|'))));

        const calendar::Settings stored =
            calendar::CalendarFile(calendar::calendarPath(rig.model.build())).load();
        QCOMPARE(stored.outputs[2].switchings.at(0).start,
                 (calendar::Anchor{calendar::Anchor::Kind::Sunset, -15 * 60, 17 * 3600, {}}));
        QCOMPARE(stored.outputs[2].presenceMinutes, 10);
        QVERIFY(rig.model.calendar() && *rig.model.calendar() == stored);

        // A latitude out of range: refused, named, and the file keeps what it had.
        w.showOutput(3);
        child<QLineEdit>(&w, QStringLiteral("txtLatitude"))->setText(QStringLiteral("91"));
        QVERIFY(!w.ok());
        QVERIFY2(rig.messages.modals.value(0).contains(QStringLiteral("latitude 91")),
                 qPrintable(rig.messages.modals.join(QLatin1Char('|'))));
        QCOMPARE(calendar::CalendarFile(calendar::calendarPath(rig.model.build())).load(), stored);
    }

    // A place stored by another view (a client of the API) while the window is
    // open and unedited shows at once, so its OK does not store the old one back.
    void followsAnotherViewsEdit()
    {
        testing::WindowRig rig;
        calendar::Settings other = rig.model.calendarForEdit();
        other.place = {true, 60.39, 5.32, QStringLiteral("Bergen")};
        rig.model.saveCalendar(other);
        calendarview::CalendarWindow w(rig.model, nullptr);
        w.showOutput(3);
        w.show();
        other.place = {true, 59.91, 10.75, QStringLiteral("Oslo")};
        rig.model.saveCalendar(other);
        QCOMPARE(child<QLineEdit>(&w, QStringLiteral("txtPlaceName"))->text(), QStringLiteral("Oslo"));
        QVERIFY(w.ok());
        QCOMPARE(calendar::CalendarFile(calendar::calendarPath(rig.model.build())).load().place, other.place);
    }
};

QTEST_MAIN(TstCalendarWindow)
#include "tst_calendarwindow.moc"
