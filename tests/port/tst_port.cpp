#include "base/failure.h"
#include "platform/port/port.h"
#include "platform/port/ppdev.h"
#include "platform/port/simulated.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <sys/stat.h>

using namespace kestra;
using namespace kestra::port;

namespace {
QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
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
                // A file answers "Inappropriate ioctl": no permission problem.
                QVERIFY2(f.description.contains("cannot be used as a printer port"),
                         qPrintable(f.description));
                QVERIFY(!f.description.contains("group lp"));
            }
        }
        QCOMPARE(port.kind(), BackendKind::Unusable);
        QVERIFY(port.description().contains(sys.dir.filePath("dev/parport0")));
        QVERIFY(!QFile::exists(env.simulatedPortPath));
    }

    // A device that opens but cannot be claimed is never half made, and its
    // failure keeps the errno that the advice is chosen by.
    void unclaimableDeviceIsNeverHalfMade()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("parport0"), {});
        try {
            PpdevDevice device(dir.filePath("parport0"));
            QFAIL("a plain file was claimed");
        } catch (const Failure& f) {
            QCOMPARE(f.number, failure::kPort);
            QCOMPARE(f.errorNumber, ENOTTY);
        }
    }

    // A listener of the port that fails leaves the write done and is told, not hidden.
    void failingObserverIsTold()
    {
        struct Failing final : Observer
        {
            void written(Register, quint8) override { throw Failure(failure::kInternal, "disk full"); }
            void read(Register, quint8) override {}
        } observer;
        FakeSystem sys;
        const Environment env = sys.env();
        Port port(0x3BC, env);
        port.setObserver(&observer);
        QTest::ignoreMessage(QtWarningMsg, "A listener of the port failed: disk full");
        port.writeData(0x5A);
        QCOMPARE(bytesOf(env.simulatedPortPath), QByteArray("\x5A\x78\x00", 3));
    }

    // Only a refused permission is helped by joining group lp.
    void adviceFollowsTheReason_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<QString>("advice");
        QTest::newRow("EACCES") << int(EACCES) << "Join group lp";
        QTest::newRow("EPERM") << int(EPERM) << "Join group lp";
        QTest::newRow("EBUSY") << int(EBUSY) << "Close the program that uses the port";
        QTest::newRow("ENXIO") << int(ENXIO) << "modprobe ppdev";
        QTest::newRow("ENOTTY") << int(ENOTTY) << "cannot be used as a printer port";
        QTest::newRow("EIO") << int(EIO) << "cannot be used as a printer port";
    }
    void adviceFollowsTheReason()
    {
        QFETCH(int, err);
        QFETCH(QString, advice);
        const QString text = unusableAdvice("/dev/parport0", err);
        QVERIFY2(text.contains(advice) && text.contains("/dev/parport0"), qPrintable(text));
        QCOMPARE(text.contains("group lp"), err == EACCES || err == EPERM);
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
        port.writeRegister(quint16(base), 0x81);
        port.writeRegister(quint16(base + 2), 2);
        SimulatedPortFile(env.simulatedPortPath).write(1, 0x80);
        QCOMPARE(port.readRegister(quint16(base + 1)), quint8(0x80));
        QCOMPARE(bytesOf(env.simulatedPortPath), QByteArray("\x81\x80\x02", 3));
        QCOMPARE(port.writeCount(Register::Data), 1);
        QCOMPARE(port.writeCount(Register::Control), 1);
        for (int address : {base - 1, base + 3, 0x378})
            QVERIFY_THROWS_EXCEPTION(Failure, port.writeRegister(quint16(address), 0));
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

    // A port file that is missing or not 3 bytes long is never used with holes
    // (a status byte 0x00 reads as inputs 2 to 5 ON): it is put back whole, with
    // what was last written and every input OFF, and a notice says so. A status
    // read that meets it fails rather than guessing the inputs.
    void brokenFileIsPutBackWhole_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("when"); // found at the start, by a write, by a read
        for (const char* damage : {"deleted", "truncated", "one byte", "grown"})
            for (const char* when : {"start", "write", "read"})
                if (QByteArray(damage) != "deleted" || QByteArray(when) != "start")
                    QTest::addRow("%s, found at the %s", damage, when) << damage << when;
    }
    void brokenFileIsPutBackWhole()
    {
        QFETCH(QString, damage);
        QFETCH(QString, when);
        FakeSystem sys;
        const Environment env = sys.env();
        Port port(0x3BC, env);
        QByteArray whole("\xFF\x78\x00", 3);
        if (when != "start") {
            port.writeControl(2);
            port.writeData(0x81);
            SimulatedPortFile(env.simulatedPortPath).write(1, 0xF8); // input 1 ON
            whole = QByteArray("\x81\x78\x02", 3);
        }
        if (damage == "deleted") QVERIFY(QFile::remove(env.simulatedPortPath));
        if (damage == "truncated") writeFile(env.simulatedPortPath, {});
        if (damage == "one byte") writeFile(env.simulatedPortPath, QByteArray("\x81", 1));
        if (damage == "grown") writeFile(env.simulatedPortPath, QByteArray("\x81\xF8\x02\x00", 4));

        if (when == "write") {
            port.writeData(0x7E);
            whole[0] = '\x7E';
        } else if (when == "read") {
            QVERIFY_THROWS_EXCEPTION(Failure, port.readStatus());
            QVERIFY(port.lastFailure(Register::Status).contains(env.simulatedPortPath));
        } else {
            QCOMPARE(port.readStatus(), quint8(0x78)); // the first call chooses the backend
        }
        QCOMPARE(bytesOf(env.simulatedPortPath), whole);
        QCOMPARE(port.readStatus(), quint8(0x78));
        QVERIFY(port.lastFailure(Register::Status).isEmpty());
        QCOMPARE(port.noticeCount(), 1);
        QVERIFY2(port.notice().contains("put back whole"), qPrintable(port.notice()));
        QVERIFY(!QFile::exists(env.simulatedPortPath + ".new"));
    }

    // A FIFO, a directory or a device where the port file should be is refused
    // at once, never opened in a way that could wait, and left as it is.
    void portPathThatIsNoFileIsRefusedWithoutWaiting_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("atStart");
        for (const char* kind : {"FIFO", "directory", "device", "dangling link"}) {
            QTest::addRow("%s at the start", kind) << kind << true;
            QTest::addRow("%s while running", kind) << kind << false;
        }
    }
    void portPathThatIsNoFileIsRefusedWithoutWaiting()
    {
        QFETCH(QString, kind);
        QFETCH(bool, atStart);
        FakeSystem sys;
        const Environment env = sys.env();
        const QByteArray path = QFile::encodeName(env.simulatedPortPath);
        Port port(0x3BC, env);
        if (!atStart) {
            port.writeControl(2);
            QVERIFY(QFile::remove(env.simulatedPortPath));
        }
        if (kind == "FIFO") QCOMPARE(::mkfifo(path.constData(), 0600), 0);
        if (kind == "directory") QVERIFY(QDir().mkdir(env.simulatedPortPath));
        if (kind == "device") QVERIFY(QFile::link("/dev/zero", env.simulatedPortPath));
        if (kind == "dangling link") QVERIFY(QFile::link(sys.dir.filePath("nowhere"), env.simulatedPortPath));
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 3; ++i) {
            QVERIFY_THROWS_EXCEPTION(Failure, port.writeData(0x55));
            QVERIFY_THROWS_EXCEPTION(Failure, port.readStatus());
        }
        QVERIFY(t.elapsed() < 1000);
        QCOMPARE(port.kind(), atStart ? BackendKind::Unusable : BackendKind::Simulated);
        QVERIFY2(port.lastFailure(Register::Data).contains("not a regular file"),
                 qPrintable(port.lastFailure(Register::Data)));
        struct stat st
        {
        };
        QCOMPARE(::lstat(path.constData(), &st), 0);
        QVERIFY(!S_ISREG(st.st_mode)); // left as it was
        QCOMPARE(port.noticeCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TstPort)
#include "tst_port.moc"
