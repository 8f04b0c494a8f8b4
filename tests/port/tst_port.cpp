#include "common/failure.h"
#include "port/port.h"
#include "port/simulated.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kestra;
using namespace kestra::port;

namespace {
QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// A stand-in for /proc/sys/dev/parport and /dev under a temporary directory.
struct FakeSystem
{
    QTemporaryDir dir;
    Environment env()
    {
        Environment e;
        e.parportProcDir = dir.filePath("proc/parport");
        e.deviceDir = dir.filePath("dev");
        e.simulatedPortPath = dir.filePath("Timer/port-3BC");
        QDir().mkpath(dir.filePath("dev"));
        QDir().mkpath(dir.filePath("Timer"));
        return e;
    }
    void addPort(const QString& name, const QByteArray& baseAddr)
    {
        QDir().mkpath(dir.filePath("proc/parport/" + name));
        QFile f(dir.filePath("proc/parport/" + name + "/base-addr"));
        f.open(QIODevice::WriteOnly);
        f.write(baseAddr);
    }
};
} // namespace

class TstPort : public QObject
{
    Q_OBJECT
private slots:
    void noPrinterPortGivesTheSimulatedFile()
    {
        FakeSystem sys;
        const Environment env = sys.env();
        const Choice c = choose(0x3BC, env);
        QCOMPARE(c.kind, BackendKind::Simulated);
        QVERIFY(c.description.startsWith("Port 3BC: simulated (no printer port at 3BC)"));
        QCOMPARE(bytesOf(env.simulatedPortPath), QByteArray("\xFF\x78\x00", 3));
    }

    void portAtAnotherBaseIsNotOurs()
    {
        FakeSystem sys;
        const Environment env = sys.env();
        sys.addPort("parport0", "888\t1912\n");
        QFile dev(sys.dir.filePath("dev/parport0"));
        dev.open(QIODevice::WriteOnly);
        QCOMPARE(choose(0x3BC, env).kind, BackendKind::Simulated);
    }

    void portAtTheBaseWithoutDeviceTellsHowToLoadPpdev()
    {
        FakeSystem sys;
        const Environment env = sys.env();
        sys.addPort("parport1", "956\t1980\n");
        const Choice c = choose(0x3BC, env);
        QCOMPARE(c.kind, BackendKind::Unusable);
        QVERIFY(c.description.contains("modprobe ppdev"));
        QVERIFY(!QFile::exists(env.simulatedPortPath));
    }

    void portAtTheBaseThatCannotBeClaimedFailsEveryCall()
    {
        FakeSystem sys;
        const Environment env = sys.env();
        sys.addPort("parport0", "0x3bc 0x7bc\n");
        // A plain file where the device should be: it opens, but cannot be claimed.
        QFile dev(sys.dir.filePath("dev/parport0"));
        dev.open(QIODevice::WriteOnly);
        dev.close();

        Port port(0x3BC, env);
        for (int i = 0; i < 2; ++i) {
            try {
                port.writeControl(2);
                QFAIL("the write did not fail");
            } catch (const Failure& f) {
                QCOMPARE(f.number, 48);
                QVERIFY(f.description.contains("group lp"));
            }
        }
        QCOMPARE(port.kind(), BackendKind::Unusable);
        QVERIFY(port.description().contains(sys.dir.filePath("dev/parport0")));
        QVERIFY(!QFile::exists(env.simulatedPortPath));
    }

    void registersOfEachBuild_data()
    {
        QTest::addColumn<int>("base");
        QTest::newRow("KESTRA3") << 0x3BC;
        QTest::newRow("KESTRA2") << 0x278;
    }
    void registersOfEachBuild()
    {
        QFETCH(int, base);
        FakeSystem sys;
        const Environment env = sys.env();
        Port port(quint16(base), env);
        port.out32(quint16(base), 0x81);
        port.out32(quint16(base + 2), 2);
        SimulatedPortFile(env.simulatedPortPath).write(1, 0x80);
        QCOMPARE(port.inp32(quint16(base + 1)), quint8(0x80));
        QCOMPARE(bytesOf(env.simulatedPortPath), QByteArray("\x81\x80\x02", 3));
        QCOMPARE(port.writeCount(Register::Data), 1);
        QCOMPARE(port.writeCount(Register::Control), 1);
        for (int address : {base - 1, base + 3, 0x378})
            QVERIFY_THROWS_EXCEPTION(Failure, port.out32(quint16(address), 0));
    }

    void simulatedFileIsReadAfreshOnEveryCall()
    {
        FakeSystem sys;
        const Environment env = sys.env();
        Port port(0x3BC, env);
        QCOMPARE(port.readStatus(), quint8(0x78));
        // Another program (the panel, a test) sets the inputs while we run.
        SimulatedPortFile(env.simulatedPortPath).write(1, 0x00);
        QCOMPARE(port.readStatus(), quint8(0x00));
        // A file removed under us is a failure of that call, not a crash.
        QFile::remove(env.simulatedPortPath);
        QVERIFY_THROWS_EXCEPTION(Failure, port.readStatus());
    }

    void shortSimulatedFileIsCompleted()
    {
        FakeSystem sys;
        const Environment env = sys.env();
        QFile f(env.simulatedPortPath);
        f.open(QIODevice::WriteOnly);
        f.write("\x05", 1);
        f.close();
        QCOMPARE(choose(0x3BC, env).kind, BackendKind::Simulated);
        QCOMPARE(bytesOf(env.simulatedPortPath), QByteArray("\x05\x78\x00", 3));
    }
};

QTEST_GUILESS_MAIN(TstPort)
#include "tst_port.moc"
