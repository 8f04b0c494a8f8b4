#include "service/homeautomation.h"
#include "shellrig.h"
#include "views/widgets/messenger.h"
#include "views/widgets/timebox.h"

#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QtEndian>

using namespace kestra;
using namespace kestra::test;

class TstHomeAutomation : public QObject
{
    Q_OBJECT
private slots:
    void init() { clearPlacement(); }

    // A mode command does what choosing the mode and OK do for the mode alone:
    // the port follows in the same turn of the event loop, not at the next scan;
    // the mode is shown and stored (soon after); the open window's other edit stays unsaved.
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
        QTRY_COMPARE(rig.stored("On3") + rig.stored("Auto3"), QStringLiteral("TrueFalse"));
        QCOMPARE(box->lineEdit()->text(), QStringLiteral("12:34:56"));
        QCOMPARE(rig.stored(field), stored);
        QVERIFY(messages.modals.isEmpty());
    }

    // A storm of commands (one settings transaction with its flushes each, ahead
    // of the scan) made switchings late and lost: now the latest per output
    // wins, the switching due meanwhile happens, and the mode is stored in a
    // write or two, not a thousand.
    void commandStormCostsTheScheduleNothing()
    {
        ui::RecordingMessenger messages;
        Rig rig({{"Auto5", "True"},
                 {"Mon5", "True"},
                 {"start5a", "12:00:01"},
                 {"Run5a", "00:00:10"},
                 {"Off4", "True"},
                 {"On4", "False"},
                 {"Auto4", "False"},
                 {"SOURCEPORT", "True"}});
        rig.start();
        rig.model().scan();
        QCOMPARE(rig.data() & 0x18, 0);
        // The file change counter of the database header: one per transaction.
        const auto writes = [&rig] {
            QFile f(rig.dir.filePath("Kestra3.db"));
            const QByteArray header = f.open(QIODevice::ReadOnly) ? f.read(28) : QByteArray();
            return header.size() == 28 ? qFromBigEndian<quint32>(header.constData() + 24) : 0u;
        };
        const quint32 before = writes();

        mqtt::Link& link = rig.service->homeAutomation().link();
        for (int i = 1; i <= 1000; ++i) {
            emit link.modeCommand(4, i % 2 ? channels::Mode::Off : channels::Mode::On);
            if (i == 500) rig.clock.set(rig.clock.now().addMSecs(1100)); // the switching of 5 falls due
        }
        QTRY_COMPARE(rig.data() & 0x18, 0x18);
        QTRY_COMPARE(rig.stored("On4") + rig.stored("Off4"), QStringLiteral("TrueFalse"));
        QTest::qWait(700);
        QVERIFY2(writes() - before <= 3, qPrintable(QString::number(writes() - before)));
        QVERIFY(messages.modals.isEmpty());
    }
};

QTEST_MAIN(TstHomeAutomation)
#include "tst_homeautomation.moc"
