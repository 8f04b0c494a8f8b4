#include "tests/support/sandbox.h"

#include <QSettings>
#include <QTest>
#include <sys/stat.h>
#include <thread>

using namespace e2e;

namespace {

// The permission bits of a path; -1 when it does not exist.
int modeOf(const QString& path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return -1;
    return int(st.st_mode & 07777);
}

// Moments after the launch at which a start is interrupted: closely spaced over
// the first 150 ms, where start-up happens on this kind of machine, then wider.
QList<int> startupMoments()
{
    QList<int> ms;
    for (int t = 0; t <= 150; t += 10)
        ms << t;
    return ms << 200 << 300 << 450;
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

// The real programs against faults of what surrounds them: the umask they are
// given, signals and kills at any moment, port files that are not what they should be.
class TstFaults : public QObject
{
    Q_OBJECT

private slots:
    // Under umask 000 every file and directory the program creates is still
    // the user's alone.
    void privateFilesUnderAnyUmask()
    {
        Sandbox box;
        const Build b = kestra3();
        const QString config = box.config() + QStringLiteral("/made-by-kestra");
        Program k(box, b);
        k.setUmask(0);
        k.setEnvironment(QStringLiteral("XDG_CONFIG_HOME"), config);
        QVERIFY(k.start());
        QVERIFY2(k.waitRunning(), qPrintable(k.standardError()));
        const QString dir = box.programDir();
        const QList<std::pair<QString, int>> expected{{dir, 0700},
                                                      {box.databasePath(b), 0600},
                                                      {box.portPath(b), 0600},
                                                      {dir + QStringLiteral("/Kestra3.lock"), 0600},
                                                      {dir + QStringLiteral("/help.html"), 0600}};
        for (const auto& [path, mode] : expected)
            QVERIFY2(modeOf(path) == mode,
                     qPrintable(QStringLiteral("%1: %2").arg(path).arg(modeOf(path), 0, 8)));
        QVERIFY(k.terminate());
        const QString ini = config + QStringLiteral("/KESTRA3.ini");
        QCOMPARE(modeOf(ini), 0600);
        QCOMPARE(modeOf(config), 0700);
    }

    // A signal at any moment of start-up ends the program within two seconds:
    // before it reached the port, the port is as it was; after, every output is
    // OFF under the polarity in force (here 5 V is ON: byte 0) and control is 0.
    // Also a first start, whose all-OFF byte is 255.
    void signalDuringStartUpIsNeverLost_data()
    {
        QTest::addColumn<bool>("firstStart");
        QTest::addColumn<QString>("start3a");
        QTest::newRow("first start") << true << QString();
        QTest::newRow("stored record, 5 V is ON") << false << QStringLiteral("12:00:00");
        // Channel 3's first tick opens the time-format message, which waits for OK.
        QTest::newRow("a message box open") << false << QStringLiteral("abc");
    }
    void signalDuringStartUpIsNeverLost()
    {
        QFETCH(bool, firstStart);
        QFETCH(QString, start3a);
        const Build b = kestra3();
        Sandbox box;
        const PortBytes marks{0x5A, 0x78, 0x07}; // only a write of the program changes these
        PortBytes untouched, allOff{255, 0x78, 0};
        if (!firstStart) {
            Program first(box, b);
            QVERIFY(first.start());
            QVERIFY(first.waitRunning());
            QVERIFY(first.terminate());
            QVERIFY(box.setFields(b, {{QStringLiteral("SOURCEPORT"), QStringLiteral("True")},
                                      {QStringLiteral("Start3a"), start3a}}));
            untouched = marks;
            allOff = {0, 0x78, 0};
        }
        const int kinds[] = {SIGTERM, SIGINT, SIGHUP};
        int endedUntouched = 0, endedAllOff = 0, i = 0;
        for (int ms : startupMoments()) {
            if (firstStart) {
                QDir(box.programDir()).removeRecursively();
                QFile::remove(box.iniPath(b));
            } else {
                for (int offset : {0, 2})
                    QVERIFY(box.writePort(b, offset, quint8(offset == 0 ? marks.data : marks.control)));
            }
            const int sig = kinds[i++ % 3];
            const QString moment = QStringLiteral("signal %1 after %2 ms").arg(sig).arg(ms);
            Program k(box, b);
            QVERIFY(k.start());
            sleepMs(ms);
            QElapsedTimer sinceSignal;
            sinceSignal.start();
            k.signal(sig);
            QVERIFY2(k.process().waitForFinished(2000),
                     qPrintable(moment + QStringLiteral(": still running")));
            const PortBytes after = box.port(b);
            QVERIFY2(after == untouched || after == allOff,
                     qPrintable(moment + QLatin1Char(' ') + describe(after)));
            // Only before the handler exists may the signal itself end the process.
            if (k.process().exitStatus() == QProcess::NormalExit)
                QVERIFY2(k.process().exitCode() == 0,
                         qPrintable(moment + QLatin1Char(' ') + k.standardError()));
            else
                QVERIFY2(after == untouched, qPrintable(moment));
            ++(after == untouched ? endedUntouched : endedAllOff);
        }
        qInfo("%d ended before touching the port, %d with every output OFF", endedUntouched, endedAllOff);
        QVERIFY(endedAllOff > 0);
    }

    // A FIFO in place of the port file is never opened in a way that waits: the
    // program keeps running, ends on SIGTERM, and leaves the FIFO as it is.
    void fifoForThePortFileNeverHangs_data()
    {
        QTest::addColumn<bool>("atStart");
        QTest::newRow("before the start") << true;
        QTest::newRow("while running") << false;
    }
    void fifoForThePortFileNeverHangs()
    {
        QFETCH(bool, atStart);
        Sandbox box;
        const Build b = kestra3();
        const QByteArray fifo = QFile::encodeName(box.portPath(b));
        Program k(box, b);
        if (atStart) {
            QVERIFY(QDir().mkpath(box.programDir()));
            QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
            QVERIFY(k.start());
            QVERIFY(waitUntil([&] { return QFileInfo::exists(box.databasePath(b)); }, 20s));
        } else {
            QVERIFY(k.start());
            QVERIFY(k.waitRunning());
            QVERIFY(QFile::remove(box.portPath(b)));
            QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        }
        sleepMs(1000); // inputs are looked at five times a second
        QCOMPARE(k.process().state(), QProcess::Running);
        QVERIFY2(k.terminate(), qPrintable(QStringLiteral("still running after %1 ms").arg(k.lastStopMs())));
        QCOMPARE(k.process().exitCode(), 0);
        struct stat st
        {
        };
        QVERIFY(::lstat(fifo.constData(), &st) == 0 && S_ISFIFO(st.st_mode));
    }

    // Placement values no screen can show used to make the window huge (memory
    // growing by hundreds of MB a second, SIGTERM unanswered). They take their
    // defaults: the program runs, ends on SIGTERM and stores a placement it showed.
    void absurdPlacementStartsNormally_data()
    {
        QTest::addColumn<QStringList>("values"); // left, top, width, height
        QTest::addColumn<QString>("scale");
        QTest::newRow("huge") << QStringList{"1e9", "-1e9", "1000000", "1e9"} << "1";
        QTest::newRow("not finite, scale factor 2") << QStringList{"nan", "-inf", "inf", "nan"} << "2";
    }
    void absurdPlacementStartsNormally()
    {
        QFETCH(QStringList, values);
        QFETCH(QString, scale);
        Sandbox box;
        const Build b = kestra3();
        const QStringList keys{"MainLeft", "MainTop", "MainWidth", "MainHeight"};
        {
            QSettings ini(box.iniPath(b), QSettings::IniFormat);
            for (int i = 0; i < 4; ++i)
                ini.setValue(QStringLiteral("Settings/") + keys[i], values[i]);
        }
        Program k(box, b);
        k.setEnvironment(QStringLiteral("QT_SCALE_FACTOR"), scale);
        QVERIFY(k.start());
        QVERIFY2(k.waitRunning(), qPrintable(k.standardError()));
        sleepMs(500);
        QVERIFY2(k.terminate(), qPrintable(QStringLiteral("still running after %1 ms").arg(k.lastStopMs())));
        QSettings ini(box.iniPath(b), QSettings::IniFormat);
        for (const QString& key : keys) {
            bool ok = false;
            const float v = ini.value(QStringLiteral("Settings/") + key).toString().toFloat(&ok);
            // Within the offscreen platform's 800x600 screen, in twips.
            QVERIFY2(ok && v >= 0 && v <= 12000, qPrintable(key + QLatin1Char('=') + QString::number(v)));
        }
    }

    // A first start killed at any moment, also while it creates the database,
    // leaves nothing that stops the next start.
    void killedFirstStartNeverBlocksTheNext()
    {
        const Build b = kestra3();
        for (int ms : startupMoments()) {
            Sandbox box;
            const QString moment = QStringLiteral("kill -9 after %1 ms").arg(ms);
            {
                Program first(box, b);
                QVERIFY(first.start());
                sleepMs(ms);
                first.signal(SIGKILL);
                QVERIFY(first.process().waitForFinished(5000));
            }
            Program next(box, b);
            QVERIFY(next.start());
            QVERIFY2(next.waitRunning(), qPrintable(moment + QLatin1Char(' ') + next.standardError()));
            QVERIFY(next.terminate());
            QVERIFY2(!box.field(b, QStringLiteral("output")).isEmpty(), qPrintable(moment));
            QVERIFY2(QDir(box.programDir()).entryList({QStringLiteral("*.new*")}, QDir::Files).isEmpty(),
                     qPrintable(moment));
        }
    }
};

QTEST_MAIN(TstFaults)
#include "tst_faults.moc"
