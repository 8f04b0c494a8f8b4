#include "platform/port/portline.h"

#include <QTest>

using namespace kestra::port;

Q_DECLARE_METATYPE(kestra::port::PortFacts)

namespace {
PortFacts facts(BackendKind kind, const QString& device, const QString& description)
{
    PortFacts f;
    f.portText = "3BC";
    f.kind = kind;
    f.device = device;
    f.description = description;
    f.held = f.wanted = 255;
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

        PortFacts f = facts(BackendKind::Simulated, "/x/port-3BC", "Port 3BC: simulated, file /x/port-3BC");
        f.notice = "the file was missing and was put back whole at 12:00:01";
        f.advice = "To see the outputs and set the inputs, start: kestra-panel 3BC";
        QTest::newRow("simulated, file put back")
            << f << "Simulated port: "
            << "/x/port-3BC (put back)" << false << "put back whole at 12:00:01";
        QTest::newRow("printer port")
            << facts(BackendKind::Ppdev, "/dev/parport0", "Port 3BC: /dev/parport0") << "Printer port "
            << "/dev/parport0" << false << "";
        QTest::newRow("unusable") << facts(BackendKind::Unusable, "/dev/parport0",
                                           "Port 3BC: no access to /dev/parport0 (Permission denied).")
                                  << "Port problem: "
                                  << "no access to /dev/parport0 (Permission denied)." << true << "";
        f.writeProblem = "Simulated port /x/port-3BC: not a regular file";
        f.wanted = 0xFF & ~0x04 & ~0x10; // outputs 3 and 5 ON at 0 V
        QTest::newRow("write failed") << f << "Port problem: outputs 3, 5 not driven: " << f.writeProblem
                                      << true << "tried again at every scan";
        f.held.reset();
        QTest::newRow("write failed, port byte unknown")
            << f << "Port problem: outputs not driven: " << f.writeProblem << true << "";
        PortFacts unread = facts(BackendKind::Simulated, "/x/port-3BC", "Port 3BC: simulated");
        unread.readProblem = "Simulated port /x/port-3BC: the file is 1 bytes long, not 3";
        QTest::newRow("inputs not read") << unread << "Port problem: inputs not read: " << unread.readProblem
                                         << true << "The inputs could not be read";
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
        QVERIFY2(line.full.startsWith(facts.description) && line.full.contains(inFull) &&
                     line.full.contains(facts.advice),
                 qPrintable(line.full));
    }
};

QTEST_GUILESS_MAIN(TstPortLine)
#include "tst_portline.moc"
