#include "service/homeautomation.h"
#include "shellrig.h"
#include "ui/messenger.h"
#include "ui/timebox.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

using namespace kestra;
using namespace kestra::test;

class TstHomeAutomation : public QObject
{
    Q_OBJECT
private slots:
    void init() { clearPlacement(); }

    // A mode command does what choosing the mode and OK do for the mode alone:
    // the port follows in the same turn of the event loop, not at the next scan;
    // the mode is shown and stored; the open window's other edit stays unsaved.
    void modeCommandLeavesTheWindowsOtherEditsAlone()
    {
        ui::RecordingMessenger messages;
        Rig rig({{"Auto3", "True"}, {"On3", "False"}, {"Off3", "False"}, {"SOURCEPORT", "True"}});
        rig.start();
        rig.model().scan();
        rig.main->showChannel(3);
        const QString field = rig.model().channel(3).time(0).field(), stored = rig.stored(field);
        auto* box = rig.main->channelWindow(3)->findChild<ui::TimeBox*>(model::timeFieldName(3, 0));
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), "12:34:56");
        QCOMPARE(rig.data() & 4, 0);
        emit rig.service->homeAutomation().link().modeCommand(3, channels::Mode::On);
        QCoreApplication::processEvents();
        QCOMPARE(rig.data() & 4, 4);
        QVERIFY(rig.main->channelWindow(3)->findChild<QRadioButton*>("ON3")->isChecked());
        QCOMPARE(rig.stored("On3") + rig.stored("Auto3"), QStringLiteral("TrueFalse"));
        QCOMPARE(box->lineEdit()->text(), QStringLiteral("12:34:56"));
        QCOMPARE(rig.stored(field), stored);
        QVERIFY(messages.modals.isEmpty());
    }
};

QTEST_MAIN(TstHomeAutomation)
#include "tst_homeautomation.moc"
