#include "reliability.h"

// The simulated port file taken away, cut short or replaced by something that is
// no file while the program runs or before it starts. The program never hangs on
// it, SIGTERM still ends it within 2 s, and wherever it can make one a whole
// 3-byte file is there afterwards, every output OFF.

using namespace reliability;

namespace {

enum class When { BeforeStart, WhileRunning };
enum class After { Whole, AsBefore };

} // namespace

Q_DECLARE_METATYPE(When)
Q_DECLARE_METATYPE(After)

class TstPortFaults : public QObject
{
    Q_OBJECT

    int m_tried = 0, m_sound = 0;

    // Does the damage of a row to the port file; false when that fails.
    static bool damage(const QString& fault, const Sandbox& box, const Build& b)
    {
        const QString path = box.portPath(b);
        QDir().mkpath(box.programDir());
        if (fault == QLatin1String("deleted")) return QFile::remove(path);
        if (fault == QLatin1String("truncated")) return QFile::resize(path, 1);
        if (fault == QLatin1String("empty")) return writeFile(path, {});
        if (fault == QLatin1String("directory")) return QDir().mkpath(path);
        if (fault == QLatin1String("FIFO")) return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
        if (fault == QLatin1String("read-only"))
            return putPort(box, b, {0x5A, 0x78, 0x07}) && QFile::setPermissions(path, QFile::ReadOwner);
        return false;
    }

    static QString kind(const QString& path)
    {
        const QFileInfo info(path);
        if (!info.exists()) return QStringLiteral("nothing");
        if (info.isDir()) return QStringLiteral("directory");
        if (!info.isFile()) return QStringLiteral("special file");
        return QStringLiteral("file of %1 bytes").arg(info.size());
    }

    // A FIFO is never opened here: that would wait for a writer.
    static QByteArray contents(const QString& path)
    {
        return QFileInfo(path).isFile() ? readFile(path) : QByteArray();
    }

private slots:
    void initTestCase() { qInfo("seed %llu", seed()); }

    void portFileFault_data()
    {
        QTest::addColumn<When>("when");
        QTest::addColumn<After>("after");
        QTest::newRow("deleted") << When::WhileRunning << After::Whole;
        QTest::newRow("truncated") << When::WhileRunning << After::Whole;
        QTest::newRow("empty") << When::BeforeStart << After::Whole;
        QTest::newRow("directory") << When::BeforeStart << After::AsBefore;
        QTest::newRow("FIFO") << When::BeforeStart << After::AsBefore;
        QTest::newRow("read-only") << When::BeforeStart << After::AsBefore;
    }

    void portFileFault()
    {
        QFETCH(When, when);
        QFETCH(After, after);
        const QString fault = QString::fromLatin1(QTest::currentDataTag());
        ++m_tried;
        Sandbox box;
        Build b = kestra3();
        QStringList launcher;
        if (when == When::BeforeStart) {
            QVERIFY2(damage(fault, box, b), "cannot damage the port file");
            if (fault == QLatin1String("read-only")) {
                const auto dropped = dropPrivileges(box, b);
                QVERIFY2(dropped, "cannot hand the sandbox to an unprivileged user");
                launcher = *dropped;
            }
        }
        const QString kindBefore = kind(box.portPath(b));
        const QByteArray bytesBefore = contents(box.portPath(b));

        Program k(box, b);
        k.setLauncher(launcher);
        QVERIFY(k.start());
        if (when == When::WhileRunning) {
            QVERIFY2(k.waitRunning(10s), qPrintable(said(k)));
            QVERIFY2(damage(fault, box, b), "cannot damage the port file");
            // Put back whole at the next touch: the data last written, inputs idle, control 2.
            QVERIFY2(waitUntil(
                         [&] {
                             return box.port(b) == PortBytes{255, 0x78, 2};
                         },
                         2s),
                     qPrintable(kind(box.portPath(b)) + QStringLiteral(", ") + describe(box.port(b))));
        } else if (after == After::Whole) {
            QVERIFY2(k.waitRunning(10s), qPrintable(said(k)));
        } else {
            // Nothing to watch from outside: the program has a moment to trip over the file.
            QTest::qWait(1500);
        }
        QVERIFY2(k.process().state() == QProcess::Running, qPrintable(said(k)));
        const QString late = termination(k);
        QVERIFY2(late.isEmpty(), qPrintable(late));
        QCOMPARE(k.process().exitStatus(), QProcess::NormalExit);

        if (after == After::Whole) {
            QCOMPARE(box.port(b), (PortBytes{255, 0x78, 0}));
        } else {
            QCOMPARE(kind(box.portPath(b)), kindBefore);
            QCOMPARE(contents(box.portPath(b)), bytesBefore);
        }
        ++m_sound;
    }

    void cleanupTestCase()
    {
        qInfo("port file faults: %d tried, %d without a hang, ended by SIGTERM within 2 s", m_tried, m_sound);
    }
};

QTEST_GUILESS_MAIN(TstPortFaults)
#include "tst_portfaults.moc"
