#include "base/buildconfig.h"
#include "base/paths.h"
#include "logic/panel/panellogic.h"
#include "views/panel/panelwindow.h"
#include "views/panel/polarity.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace kestra;
using namespace kestra::panel;

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// A database as someone might make it by hand: only what the panel reads, and
// the field name in another case than the program writes it.
void makeDatabase(const QString& path, const QString& sourceport, const QString& loc3 = {})
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("DROP TABLE IF EXISTS SaveSettingsTbl")));
        QVERIFY(q.exec(QStringLiteral(
            "CREATE TABLE SaveSettingsTbl (\"output\" TEXT, \"sourceport\" TEXT, \"Loc3\" TEXT)")));
        q.prepare(QStringLiteral("INSERT INTO SaveSettingsTbl VALUES ('0', ?, ?)"));
        q.addBindValue(sourceport);
        q.addBindValue(loc3);
        QVERIFY(q.exec());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make"));
}

QString states(const PanelWindow& w)
{
    QString s;
    for (int m = 1; m <= 8; ++m)
        s +=
            w.findChild<QLabel*>(QStringLiteral("State%1").arg(m))->text() == QLatin1String("ON") ? '1' : '0';
    return s;
}

} // namespace

class TstPanel : public QObject
{
    Q_OBJECT
    QTemporaryDir home; // the panel finds its files through XDG_DATA_HOME
    BuildConfig build = kestra3Config();

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        QCOMPARE(programDirectory(), home.path() + QStringLiteral("/Timer"));
    }

    void init()
    {
        QDir(programDirectory()).removeRecursively();
        QVERIFY(QDir().mkpath(programDirectory()));
    }

    void lamps_data()
    {
        QTest::addColumn<int>("data");
        QTest::addColumn<bool>("fiveVoltsOn");
        QTest::addColumn<QString>("on"); // outputs 1..8
        QTest::newRow("outputs 1 and 8 at 5 V, 5 V is ON") << 0x81 << true << "10000001";
        QTest::newRow("outputs 1 and 8 at 5 V, 0 V is ON") << 0x81 << false << "01111110";
        QTest::newRow("all OFF under 0 V is ON") << 255 << false << "00000000";
        QTest::newRow("all OFF under 5 V is ON") << 0 << true << "00000000";
        QTest::newRow("all ON under 0 V is ON") << 0 << false << "11111111";
        QTest::newRow("output 3 alone") << 4 << true << "00100000";
    }
    void lamps()
    {
        QFETCH(int, data);
        QFETCH(bool, fiveVoltsOn);
        QFETCH(QString, on);
        const auto lamps = lampsFor(quint8(data), fiveVoltsOn);
        for (int m = 1; m <= 8; ++m) {
            QCOMPARE(lamps[m - 1].on, on[m - 1] == '1');
            QCOMPARE(levelText(lamps[m - 1].high),
                     (data >> (m - 1)) & 1 ? QStringLiteral("5 V") : QStringLiteral("0 V"));
        }
    }

    void portArgument_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("title"); // empty: refused
        QTest::newRow("3BC") << "3BC"
                             << "KESTRA3";
        QTest::newRow("0x3bc") << "0x3bc"
                               << "KESTRA3";
        QTest::newRow("kestra3") << "kestra3"
                                 << "KESTRA3";
        QTest::newRow("278") << "278"
                             << "KESTRA2";
        QTest::newRow("KESTRA2") << "KESTRA2"
                                 << "KESTRA2";
        QTest::newRow("other base") << "378"
                                    << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void portArgument()
    {
        QFETCH(QString, argument);
        QFETCH(QString, title);
        const auto b = buildForArgument(argument);
        QCOMPARE(b ? b->title : QString(), title);
    }

    // Ticking a switch pulls its pin low; only the status byte changes.
    void switchesSetTheStatusByte_data()
    {
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("status");
        QTest::newRow("input 1: bit 7 set") << 1 << 0xF8;
        QTest::newRow("input 2: bit 6 clear") << 2 << 0x38;
        QTest::newRow("input 3: bit 5 clear") << 3 << 0x58;
        QTest::newRow("input 4: bit 4 clear") << 4 << 0x68;
        QTest::newRow("input 5: bit 3 clear") << 5 << 0x70;
    }
    void switchesSetTheStatusByte()
    {
        QFETCH(int, input);
        QFETCH(int, status);
        writeFile(build.simulatedPortPath(), QByteArray("\x81\x78\x02", 3));
        PanelWindow w(build);
        auto* box = w.findChild<QCheckBox*>(QStringLiteral("Input%1").arg(input));
        QVERIFY(box && box->isEnabled());
        box->click();
        QCOMPARE(readFile(build.simulatedPortPath()), QByteArray("\x81", 1) + char(status) + '\x02');
        box->click();
        QCOMPARE(readFile(build.simulatedPortPath()), QByteArray("\x81\x78\x02", 3));
    }

    // Inputs set by another tool are kept when a switch is clicked.
    void switchKeepsOtherInputs()
    {
        writeFile(build.simulatedPortPath(), QByteArray("\x00\x78\x00", 3));
        PanelWindow w(build);
        writeFile(build.simulatedPortPath(), QByteArray("\x00\xF8\x00", 3)); // input 1 ON from outside
        w.findChild<QCheckBox*>(QStringLiteral("Input3"))->click();
        QCOMPARE(quint8(readFile(build.simulatedPortPath()).at(1)), quint8(0xD8));
        QVERIFY(w.findChild<QCheckBox*>(QStringLiteral("Input1"))->isChecked());
    }

    void lampsFollowTheFileAndThePolarity()
    {
        makeDatabase(build.databasePath(), QStringLiteral("True"));
        writeFile(build.simulatedPortPath(), QByteArray("\x81\x78\x02", 3));
        PanelWindow w(build);
        w.show();
        QCOMPARE(states(w), QStringLiteral("10000001"));
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("Level1"))->text(), QStringLiteral("5 V"));
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("Level2"))->text(), QStringLiteral("0 V"));
        QVERIFY(w.findChild<QLabel*>(QStringLiteral("lblControl"))
                    ->text()
                    .startsWith(QStringLiteral("Control: 2 ")));

        writeFile(build.simulatedPortPath(), QByteArray("\x04\x78\x02", 3));
        QTRY_COMPARE(states(w), QStringLiteral("00100000"));

        makeDatabase(build.databasePath(), QStringLiteral("False"));
        QTRY_COMPARE(states(w), QStringLiteral("11011111"));
        QVERIFY(w.findChild<QLabel*>(QStringLiteral("lblPolarity"))
                    ->text()
                    .contains(QStringLiteral("0 V is ON")));
    }

    // Before the program has made the file the panel waits, and makes nothing itself.
    void waitsForThePortFile()
    {
        PanelWindow w(build);
        QVERIFY(!w.findChild<QCheckBox*>(QStringLiteral("Input1"))->isEnabled());
        QVERIFY(!w.findChild<QLabel*>(QStringLiteral("lblProblem"))->text().isEmpty());
        w.refresh();
        QVERIFY(!QFile::exists(build.simulatedPortPath()));
        writeFile(build.simulatedPortPath(), QByteArray("\xFF\x78\x02", 3));
        QTRY_VERIFY(w.findChild<QCheckBox*>(QStringLiteral("Input1"))->isEnabled());
        QCOMPARE(states(w), QStringLiteral("00000000")); // no database: shown as unchecked
    }

    // A port file deleted under the panel is not made again with holes by a
    // click, and a FIFO in its place never makes the panel wait.
    void brokenPortFileIsLeftToTheProgram()
    {
        writeFile(build.simulatedPortPath(), QByteArray("\xFF\x78\x02", 3));
        PanelWindow w(build);
        auto* input1 = w.findChild<QCheckBox*>(QStringLiteral("Input1"));
        QVERIFY(input1->isEnabled());
        QVERIFY(QFile::remove(build.simulatedPortPath()));
        input1->click();
        QVERIFY(!QFile::exists(build.simulatedPortPath()));

        QCOMPARE(::mkfifo(QFile::encodeName(build.simulatedPortPath()).constData(), 0600), 0);
        QElapsedTimer t;
        t.start();
        w.refresh();
        input1->click();
        QVERIFY(t.elapsed() < 1000);
        QVERIFY2(w.findChild<QLabel*>(QStringLiteral("lblProblem"))->text().contains("not a regular file"),
                 qPrintable(w.findChild<QLabel*>(QStringLiteral("lblProblem"))->text()));
    }

    void polarityReading_data()
    {
        QTest::addColumn<QString>("stored"); // "-": no database file
        QTest::addColumn<bool>("readable");
        QTest::addColumn<bool>("fiveVoltsOn");
        QTest::newRow("True") << "True" << true << true;
        QTest::newRow("False") << "False" << true << false;
        QTest::newRow("empty reads as unchecked") << "" << true << false;
        QTest::newRow("no database") << "-" << false << false;
    }
    void polarityReading()
    {
        QFETCH(QString, stored);
        QFETCH(bool, readable);
        QFETCH(bool, fiveVoltsOn);
        if (stored != QLatin1String("-")) makeDatabase(build.databasePath(), stored);
        const PolarityReading r = readPolarity(build.databasePath());
        QCOMPARE(r.readable, readable);
        QCOMPARE(r.fiveVoltsOn, fiveVoltsOn);
        QCOMPARE(QFile::exists(build.databasePath()), stored != QLatin1String("-"));
    }

    // Each output is named as the program's main window names it, read from the settings.
    void outputsShowTheirLocations()
    {
        makeDatabase(build.databasePath(), QStringLiteral("False"), QStringLiteral("Hall heater"));
        writeFile(build.simulatedPortPath(), QByteArray("\xFB\x78\x02", 3));
        PanelWindow w(build);
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("Location3"))->text(), QStringLiteral("Hall heater"));
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("Location4"))->text(), QString());
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("State3"))->text(), QStringLiteral("ON"));
    }

    // The program holding a write lock must neither freeze the panel nor flip its lamps.
    void lockedDatabaseKeepsTheLastPolarity()
    {
        makeDatabase(build.databasePath(), QStringLiteral("True"));
        writeFile(build.simulatedPortPath(), QByteArray("\x81\x78\x02", 3));
        PanelWindow w(build);
        QCOMPARE(states(w), QStringLiteral("10000001"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lock"));
            db.setDatabaseName(build.databasePath());
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            QVERIFY(q.exec(QStringLiteral("UPDATE SaveSettingsTbl SET sourceport = 'False'")));
            QVERIFY(!readPolarity(build.databasePath()).readable);
            // As if the program had just written: the panel reads again and finds the lock.
            QFile file(build.databasePath());
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(
                file.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
            w.refresh();
            QCOMPARE(states(w), QStringLiteral("10000001"));
            QVERIFY(w.findChild<QLabel*>(QStringLiteral("lblPolarity"))
                        ->text()
                        .contains(QStringLiteral("last value")));
            QVERIFY(q.exec(QStringLiteral("ROLLBACK")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("lock"));
    }
};

QTEST_MAIN(TstPanel)
#include "tst_panel.moc"
