#include "sandbox.h"

#include <QSettings>
#include <QTest>

using namespace e2e;

namespace {

// Monday 7 December 2026, a few seconds before noon.
const QString kMonday = QStringLiteral("2026-12-07 11:59:55");

// Without libfaketime no run can be placed in time. In CI that is a broken
// machine, not a reason to pass.
#define REQUIRE_FAKETIME()                                                                                   \
    do {                                                                                                     \
        if (libfaketime().isEmpty()) {                                                                       \
            if (qgetenv("CI") == "true")                                                                     \
                QFAIL("libfaketime not found: install the Debian package faketime");                         \
            QSKIP("libfaketime not found: install the Debian package faketime");                             \
        }                                                                                                    \
    } while (false)

// Starts the build in the box, waits until it has set up the port and stops it:
// afterwards the database exists for the test to prepare.
#define FIRST_RUN(box, build)                                                                                \
    do {                                                                                                     \
        Program first(box, build);                                                                           \
        QVERIFY(first.start(kMonday));                                                                       \
        QVERIFY2(first.waitRunning(), qPrintable(first.standardError()));                                    \
        QVERIFY(first.terminate());                                                                          \
    } while (false)

#define SET_FIELDS(box, build, ...)                                                                          \
    do {                                                                                                     \
        QString sqlError;                                                                                    \
        QVERIFY2((box).setFields(build, __VA_ARGS__, &sqlError), qPrintable(sqlError));                      \
    } while (false)

bool privateToUser(const QString& path)
{
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    return QFileInfo::exists(path) && !(QFile::permissions(path) & others);
}

QString traceText(const QList<PortBytes>& trace)
{
    QStringList parts;
    for (const PortBytes& p : trace)
        parts << describe(p);
    return parts.join(QStringLiteral(" -> "));
}

} // namespace

class TstE2e : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_FAKETIME(); }

    void firstStartCreatesItsFiles()
    {
        Sandbox box;
        const Build b = kestra3();
        Program k(box, b);
        QVERIFY(k.start(kMonday));
        QVERIFY2(k.waitRunning(), qPrintable(k.standardError()));
        QVERIFY(privateToUser(box.programDir()));
        QVERIFY(privateToUser(box.databasePath(b)));
        // A new record: polarity unchecked, so every output OFF is 255 once the scan has run.
        QVERIFY(waitUntil([&] { return box.port(b) == PortBytes{255, 0x78, 2}; }, 3s));
        QCOMPARE(box.field(b, QStringLiteral("SOURCEPORT")), QStringLiteral("False"));
        QCOMPARE(box.field(b, QStringLiteral("inp3date")), QStringLiteral("2026-12-07")); // the faked day

        QVERIFY2(k.terminate(), qPrintable(QStringLiteral("still running after %1 ms").arg(k.lastStopMs())));
        QCOMPARE(k.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(k.process().exitCode(), 0);
        QCOMPARE(box.port(b), (PortBytes{255, 0x78, 0}));
        QCOMPARE(box.field(b, QStringLiteral("output")), QStringLiteral("255"));
        QSettings ini(box.iniPath(b), QSettings::IniFormat);
        for (const char* key : {"MainLeft", "MainTop", "MainWidth", "MainHeight"}) {
            bool ok = false;
            ini.value(QStringLiteral("Settings/") + QLatin1String(key)).toString().toFloat(&ok);
            QVERIFY2(ok, key);
        }
    }

    // Whatever the polarity and the signal, the program leaves every output OFF
    // and the control register clear, and is gone within two seconds.
    void shutdownLeavesOutputsOff_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("sourceport");
        QTest::addColumn<int>("allOff");
        QTest::newRow("SIGTERM, 0 V is ON") << int(SIGTERM) << "False" << 255;
        QTest::newRow("SIGTERM, 5 V is ON") << int(SIGTERM) << "True" << 0;
        QTest::newRow("SIGINT, 5 V is ON") << int(SIGINT) << "True" << 0;
        QTest::newRow("SIGHUP, 0 V is ON") << int(SIGHUP) << "False" << 255;
    }
    void shutdownLeavesOutputsOff()
    {
        QFETCH(int, signal);
        QFETCH(QString, sourceport);
        QFETCH(int, allOff);
        Sandbox box;
        const Build b = kestra3();
        FIRST_RUN(box, b);
        SET_FIELDS(box, b, {{QStringLiteral("SOURCEPORT"), sourceport}});

        Program k(box, b);
        QVERIFY(k.start(kMonday));
        QVERIFY(k.waitRunning());
        QVERIFY(waitUntil([&] { return box.port(b) == PortBytes{allOff, 0x78, 2}; }, 3s));
        k.signal(signal);
        QVERIFY(k.process().waitForFinished(2000));
        QCOMPARE(k.process().exitCode(), 0);
        QCOMPARE(box.port(b), (PortBytes{allOff, 0x78, 0}));
        QCOMPARE(box.field(b, QStringLiteral("SOURCEPORT")), sourceport);
        QCOMPARE(box.field(b, QStringLiteral("output")), QString::number(allOff));
    }

    // Start-up puts the stored byte back before the first scan; a stored value
    // that is no byte tells nothing about the relays, so nothing is written until
    // the scan has its own byte.
    void storedByteAtStartUp_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("restored");
        QTest::newRow("5") << "5" << true;
        QTest::newRow("0") << "0" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("text") << "abc" << false;
        QTest::newRow("256") << "256" << false;
        QTest::newRow("-1") << "-1" << false;
    }
    void storedByteAtStartUp()
    {
        QFETCH(QString, stored);
        QFETCH(bool, restored);
        Sandbox box;
        const Build b = kestra3();
        FIRST_RUN(box, b);
        SET_FIELDS(box, b, {{QStringLiteral("output"), stored}});
        constexpr int kUntouched = 0x5A;
        QVERIFY(box.writePort(b, 0, kUntouched));

        // Every state the file passes through, seen by polling every 2 ms; the
        // first scan comes 500 ms after the start-up writes.
        Program k(box, b);
        QList<PortBytes> trace{box.port(b)};
        QVERIFY(k.start(kMonday));
        const bool scanned = waitUntil(
            [&] {
                const PortBytes p = box.port(b);
                if (!(p == trace.last())) trace << p;
                return p == PortBytes{255, 0x78, 2};
            },
            10s, 2);
        QVERIFY2(scanned, qPrintable(k.standardError()));
        QSet<int> seen;
        for (const PortBytes& p : trace)
            seen << p.data;
        const int value = stored.toInt();
        if (restored) {
            QVERIFY2(trace.contains(PortBytes{value, 0x78, 2}), qPrintable(traceText(trace)));
            QCOMPARE(seen, (QSet<int>{kUntouched, value, 255}));
        } else {
            QVERIFY2(trace.contains(PortBytes{kUntouched, 0x78, 2}), qPrintable(traceText(trace)));
            QCOMPARE(seen, (QSet<int>{kUntouched, 255}));
        }
        QVERIFY(k.terminate());
        QCOMPARE(box.field(b, QStringLiteral("output")), QStringLiteral("255"));
    }

    // A placement stored before comes back, and is stored again at the end (a size
    // above the window's minimum, which would otherwise win).
    void placementKept()
    {
        Sandbox box;
        const Build b = kestra3();
        {
            QSettings ini(box.iniPath(b), QSettings::IniFormat);
            ini.setValue(QStringLiteral("Settings/MainLeft"), QStringLiteral("1500"));
            ini.setValue(QStringLiteral("Settings/MainTop"), QStringLiteral("1200"));
            ini.setValue(QStringLiteral("Settings/MainWidth"), QStringLiteral("9000"));
            ini.setValue(QStringLiteral("Settings/MainHeight"), QStringLiteral("9600"));
        }
        Program k(box, b);
        QVERIFY(k.start(kMonday));
        QVERIFY(k.waitRunning());
        QVERIFY(k.terminate());
        QSettings ini(box.iniPath(b), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("Settings/MainLeft")).toString(), QStringLiteral("1500"));
        QCOMPARE(ini.value(QStringLiteral("Settings/MainTop")).toString(), QStringLiteral("1200"));
        QCOMPARE(ini.value(QStringLiteral("Settings/MainWidth")).toString(), QStringLiteral("9000"));
        QCOMPARE(ini.value(QStringLiteral("Settings/MainHeight")).toString(), QStringLiteral("9600"));
    }

    // The second start of the same build says so and never touches the port,
    // not even when it is sent SIGTERM.
    void secondInstanceRefused()
    {
        Sandbox box;
        const Build b = kestra3();
        Program first(box, b);
        QVERIFY(first.start(kMonday));
        QVERIFY(first.waitRunning());
        QVERIFY(waitUntil([&] { return box.port(b) == PortBytes{255, 0x78, 2}; }, 3s));
        // Marks that only a write by the second instance could change.
        QVERIFY(box.writePort(b, 0, 0x5A));
        QVERIFY(box.writePort(b, 2, 0x07));

        Program second(box, b);
        QVERIFY(second.start(kMonday));
        QVERIFY2(
            waitUntil([&] { return second.standardError().contains(QLatin1String("already running")); }, 10s),
            qPrintable(second.standardError()));
        QCOMPARE(second.process().state(), QProcess::Running); // its box is still up
        QVERIFY(second.terminate());
        QCOMPARE(second.process().exitCode(), 1);
        QCOMPARE(box.port(b), (PortBytes{0x5A, 0x78, 0x07}));

        QCOMPARE(first.process().state(), QProcess::Running);
        QVERIFY(first.terminate());
        QCOMPARE(box.port(b), (PortBytes{255, 0x78, 0}));
    }

    // kestra2 keeps its own files and runs beside kestra3.
    void kestra2BesideKestra3()
    {
        Sandbox box;
        const Build two = kestra2();
        const Build three = kestra3();
        Program k3(box, three);
        QVERIFY(k3.start(kMonday));
        QVERIFY(k3.waitRunning());
        Program k2(box, two);
        QVERIFY(k2.start(kMonday));
        QVERIFY2(k2.waitRunning(), qPrintable(k2.standardError()));
        QVERIFY(QFileInfo::exists(box.databasePath(two)));
        QVERIFY(waitUntil([&] { return box.port(two) == PortBytes{255, 0x78, 2}; }, 3s));

        QVERIFY(k2.terminate());
        QCOMPARE(k2.process().exitCode(), 0);
        QCOMPARE(box.port(two), (PortBytes{255, 0x78, 0}));
        QVERIFY(QFileInfo::exists(box.iniPath(two)));
        QCOMPARE(box.port(three).control, 2); // kestra3 runs on untouched
        QCOMPARE(box.field(two, QStringLiteral("output")), QStringLiteral("255"));
        QVERIFY(k3.terminate());
        QCOMPARE(box.port(three), (PortBytes{255, 0x78, 0}));
    }
};

QTEST_GUILESS_MAIN(TstE2e)
#include "tst_e2e.moc"
