#include "port/portline.h"

#include <QTest>

using namespace kestra::port;

Q_DECLARE_METATYPE(kestra::port::PortFacts)

namespace {
PortFacts simulated()
{
    PortFacts f;
    f.portText = "3BC";
    f.kind = BackendKind::Simulated;
    f.device = "/home/a/.local/share/Timer/port-3BC";
    f.description = "Port 3BC: simulated (no printer port at 3BC), file " + f.device;
    f.advice = "To see the outputs and set the inputs, start: kestra-panel 3BC";
    f.held = 255;
    f.wanted = 255;
    return f;
}
} // namespace

// The status line's short text, its colour and the whole story behind it.
class TstPortLine : public QObject
{
    Q_OBJECT
private slots:
    void describe_data()
    {
        QTest::addColumn<PortFacts>("facts");
        QTest::addColumn<QString>("head");
        QTest::addColumn<QString>("rest");
        QTest::addColumn<bool>("problem");
        QTest::addColumn<QString>("inFull"); // besides the description

        PortFacts f = simulated();
        QTest::newRow("simulated") << f << "Simulated port: " << f.device << false << "kestra-panel 3BC";
        f.notice = "the file was missing and was put back whole at 12:00:01";
        QTest::newRow("simulated, file put back")
            << f << "Simulated port: " << f.device + " (put back)" << false << "put back whole at 12:00:01";

        PortFacts ppdev;
        ppdev.portText = "3BC";
        ppdev.kind = BackendKind::Ppdev;
        ppdev.device = "/dev/parport0";
        ppdev.description = "Port 3BC: /dev/parport0";
        QTest::newRow("printer port") << ppdev << "Printer port "
                                      << "/dev/parport0" << false << "";

        PortFacts unusable = ppdev;
        unusable.kind = BackendKind::Unusable;
        unusable.description = "Port 3BC: no access to /dev/parport0 (Permission denied). Join group lp.";
        QTest::newRow("unusable") << unusable << "Port problem: "
                                  << "no access to /dev/parport0 (Permission denied). Join group lp." << true
                                  << "";

        PortFacts failed = simulated();
        failed.held = 0xFF;
        failed.wanted = 0xFF & ~0x04 & ~0x10; // outputs 3 and 5 ON at 0 V
        failed.writeProblem = "Simulated port /x/port-3BC: not a regular file";
        QTest::newRow("write failed")
            << failed << "Port problem: outputs 3, 5 not driven: " << failed.writeProblem << true
            << "tried again at every scan";
        failed.wanted = 0xFB;
        QTest::newRow("write failed, one output")
            << failed << "Port problem: output 3 not driven: " << failed.writeProblem << true << "output 3";
        failed.held.reset();
        QTest::newRow("write failed, port byte unknown")
            << failed << "Port problem: outputs not driven: " << failed.writeProblem << true << "";

        PortFacts unread = simulated();
        unread.readProblem = "Simulated port /x/port-3BC: the file is 1 bytes long, not 3";
        QTest::newRow("inputs not read") << unread << "Port problem: inputs not read: " << unread.readProblem
                                         << true << "The inputs could not be read";

        PortFacts unused;
        unused.portText = "278";
        QTest::newRow("not used yet") << unused << "Port 278: not used yet"
                                      << "" << false << "";
    }
    void describe()
    {
        QFETCH(PortFacts, facts);
        QFETCH(QString, head);
        QFETCH(QString, rest);
        QFETCH(bool, problem);
        QFETCH(QString, inFull);
        const PortLine line = describePort(facts);
        QCOMPARE(line.head, head);
        QCOMPARE(line.rest, rest);
        QCOMPARE(line.problem, problem);
        QVERIFY2(line.full.startsWith(facts.description.isEmpty() ? head : facts.description),
                 qPrintable(line.full));
        QVERIFY2(line.full.contains(inFull), qPrintable(line.full));
        QVERIFY(line.full.contains(facts.advice));
    }
};

QTEST_GUILESS_MAIN(TstPortLine)
#include "tst_portline.moc"
