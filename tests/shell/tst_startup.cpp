#include "base/buildconfig.h"
#include "base/paths.h"
#include "service/startup/singleinstance.h"
#include "shell/placement.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace kestra;
using shell::Placement;

Q_DECLARE_METATYPE(shell::Placement)
Q_DECLARE_METATYPE(QList<QRect>)

namespace {
const QList<QRect> kOneScreen{{0, 0, 1600, 1000}};
const QSize kMinimum(300, 400);
} // namespace

// What start-up decides before any window exists.
class TstStartup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(ensureProgramDirectory().isEmpty()); }

    // The lock lives in the program directory: a second session with another
    // runtime directory, or none, still finds the first one running.
    void oneInstancePerBuildWhateverTheRuntimeDirectory()
    {
        QTemporaryDir other;
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        shell::SingleInstance first(kestra3Config().lockPath());
        QVERIFY(first.acquire());
        QCOMPARE(first.lockPath(), programDirectory() + QStringLiteral("/Kestra3.lock"));
        for (const QByteArray& dir : {other.path().toLocal8Bit(), QByteArray()}) {
            qputenv("XDG_RUNTIME_DIR", dir);
            shell::SingleInstance second(kestra3Config().lockPath());
            QVERIFY2(!second.acquire(), dir.constData());
        }
        qputenv("XDG_RUNTIME_DIR", runtime);
        shell::SingleInstance two(kestra2Config().lockPath()); // the other build runs beside it
        QVERIFY(two.acquire());
    }

    // A program killed between making its lock file and writing its pid into it
    // leaves an empty file: the next start takes it over, while a lock that a
    // running program holds still refuses.
    void emptyInstanceLockIsTakenOver()
    {
        const QString path = kestra3Config().lockPath();
        QFile empty(path);
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        {
            shell::SingleInstance next(path);
            QVERIFY(next.acquire());
            shell::SingleInstance second(path);
            QVERIFY(!second.acquire());
        }
        QVERIFY(!QFile::exists(path));
    }

    // A program killed while it saved its placement can leave the settings' lock
    // file empty; the next save must not wait half a minute on it (a shutdown
    // that SIGTERM asked for would outlast every reasonable wait).
    void emptyLockLeftByAKillDoesNotHoldUpTheSave()
    {
        const QString lock =
            QSettings(QSettings::IniFormat, QSettings::UserScope, "KESTRA3").fileName() + ".lock";
        QVERIFY(QDir().mkpath(QFileInfo(lock).path())); // a first run has no config directory yet
        QFile empty(lock);
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        QElapsedTimer t;
        t.start();
        shell::writePlacement("KESTRA3", {1500, 1200, 9000, 9600});
        QVERIFY2(t.elapsed() < 10000, qPrintable(QStringLiteral("%1 ms").arg(t.elapsed())));
        QCOMPARE(shell::readPlacement("KESTRA3").top, 1200.0);
        QVERIFY(!QFile::exists(lock));
    }

    // A value that no screen can show, or no number at all, takes its key's
    // default (and never reaches a float-to-int conversion or a huge window).
    void badPlacementValueTakesTheDefault_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        for (const char* key : {"MainLeft", "MainTop", "MainWidth", "MainHeight"}) {
            for (const char* text : {"1000000", "1e9", "nan", "inf", "-inf", "-1e9", "abc", "1e39"})
                QTest::addRow("%s=%s", key, text) << key << text;
            if (QByteArray(key).endsWith("Width") || QByteArray(key).endsWith("Height"))
                QTest::addRow("%s=0", key) << key << "0";
        }
    }
    void badPlacementValueTakesTheDefault()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        {
            QSettings s(QSettings::IniFormat, QSettings::UserScope, "KESTRA3");
            s.clear();
            s.setValue("Settings/" + key, text);
        }
        const QRect r = shell::placementRect(shell::readPlacement("KESTRA3"), kOneScreen, 96, kMinimum);
        QCOMPARE(r, QRect(67, 67, 433, 433)); // 1000, 1000, 6500, 6500 twips at 96 dpi
    }

    // What can be shown is restored as stored; what cannot is brought onto a screen.
    void placementFitsTheScreens_data()
    {
        QTest::addColumn<Placement>("stored");
        QTest::addColumn<QList<QRect>>("screens");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("fits") << Placement{3000, 1500, 9000, 9600} << kOneScreen << QRect(200, 100, 600, 640);
        QTest::newRow("below the content's minimum")
            << Placement{1000, 1000, 1500, 1500} << kOneScreen << QRect(67, 67, 300, 400);
        QTest::newRow("larger than the screen")
            << Placement{0, 0, 30000, 30000} << kOneScreen << QRect(0, 0, 1600, 1000);
        QTest::newRow("partly off the screen stays")
            << Placement{22500, 12000, 6000, 9000} << kOneScreen << QRect(1500, 800, 400, 600);
        QTest::newRow("right of every screen")
            << Placement{45000, 1500, 6000, 6000} << kOneScreen << QRect(1200, 100, 400, 400);
        QTest::newRow("above every screen")
            << Placement{1500, -15000, 6000, 6000} << kOneScreen << QRect(100, 0, 400, 400);
        QTest::newRow("taller than the screen, mostly above it")
            << Placement{1500, -18000, 6000, 30000} << kOneScreen << QRect(100, 0, 400, 1000);
        const QList<QRect> two{{0, 0, 1600, 1000}, {1600, 200, 1280, 800}};
        QTest::newRow("second screen")
            << Placement{27000, 4500, 6000, 6000} << two << QRect(1800, 300, 400, 400);
        QTest::newRow("in the corner the second screen leaves")
            << Placement{27000, 0, 6000, 2250} << two << QRect(1800, 200, 400, 400);
        // QT_SCALE_FACTOR=2 on 1600x1000: a placement stored at scale 1.
        QTest::newRow("scale factor 2") << Placement{18000, 9000, 9000, 6000}
                                        << QList<QRect>{{0, 0, 800, 500}} << QRect(200, 100, 600, 400);
    }
    void placementFitsTheScreens()
    {
        QFETCH(Placement, stored);
        QFETCH(QList<QRect>, screens);
        QFETCH(QRect, expected);
        QCOMPARE(shell::placementRect(stored, screens, 96, kMinimum), expected);
    }
};

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
