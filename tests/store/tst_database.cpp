#include "base/failure.h"
#include "storage/store/database.h"
#include "storage/store/datasource.h"
#include "storage/store/schema.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace kestra;
using namespace kestra::store;

namespace {
const QDate kToday(2026, 12, 7);

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

int failureNumber(const std::function<void()>& f)
{
    try {
        f();
    } catch (const Failure& e) {
        return e.number;
    }
    return 0;
}
} // namespace

class TstDatabase : public QObject
{
    Q_OBJECT
private slots:
    void newFileHasEveryFieldAndSurvivesReopen()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Kestra3.db");
        bool created = false;
        {
            auto db = Database::open(path, kToday, &created);
            QVERIFY(created);
            const auto rec = db->readSettings();
            QCOMPARE(settingsFields().size(), 194);
            QCOMPARE(rec.size(), 194);
            QCOMPARE(rec.value("sun3"), QStringLiteral("False"));
            QCOMPARE(rec.value("auto"), QStringLiteral("False"));
            QCOMPARE(rec.value("start8j"), QStringLiteral("00:00:00"));
            QCOMPARE(rec.value("output"), QStringLiteral("255"));
            QCOMPARE(rec.value("plsestrt"), QStringLiteral("0"));
            QCOMPARE(rec.value("loc1"), QString());
            QCOMPARE(rec.value("inp3date"), QStringLiteral("2026-12-07"));
            QCOMPARE(rec.value("3inp off8"), QStringLiteral("False"));
            const QStringList starts = db->listValues(kStartTimesTable, kStartTimesField);
            QCOMPARE(starts.size(), 96);
            QCOMPARE(starts.first(), QStringLiteral("00:00:00"));
            QCOMPARE(starts.last(), QStringLiteral("23:45:00"));
            QVERIFY(db->listValues(kRunTimesTable, kRunTimesField).contains("00:30:00"));
            db->writeSettings({{"Start3a", "12:30:00"}});
        }
        QCOMPARE(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        auto db = Database::open(path, kToday, &created);
        QVERIFY(!created);
        QCOMPARE(db->readSettings().value("start3a"), QStringLiteral("12:30:00"));
    }

    // A creation cut short (a kill, a full disk) leaves only its temporary files,
    // never a settings file without tables; the next start clears them away.
    void creationLeftoversAreRemoved()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Kestra3.db");
        for (const char* leftover : {"Kestra3.db.new", "Kestra3.db.new-journal"}) {
            QFile f(dir.filePath(leftover));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("half a database");
        }
        bool created = false;
        auto db = Database::open(path, kToday, &created);
        QVERIFY(created);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"Kestra3.db"});
    }

    void fieldsMatchWithoutRegardToCase()
    {
        QTemporaryDir dir;
        auto db = Database::open(dir.filePath("k.db"), kToday);
        DataSource data(*db);
        data.refresh();
        data.writeField("start3a", "08:00:00");
        data.writeField("1inp on1", "True");
        const auto rec = db->readSettings();
        QCOMPARE(rec.value("start3a"), QStringLiteral("08:00:00"));
        QCOMPARE(rec.value("1inp on1"), QStringLiteral("True"));
    }

    void fileMadeWithTheSqliteToolIsAccepted()
    {
        const QString sqlite = QStandardPaths::findExecutable("sqlite3");
        if (sqlite.isEmpty()) QSKIP("sqlite3 is not installed");
        QTemporaryDir dir;
        const QString path = dir.filePath("made.db");
        // Other letter case, other column types, an extra column: still a settings database.
        QStringList cols{"id INTEGER PRIMARY KEY"};
        for (const QString& f : settingsFields())
            cols << quoted(f.toUpper()) + " VARCHAR(50)";
        const QString script =
            QString("CREATE TABLE savesettingstbl (%1);"
                    "INSERT INTO savesettingstbl (\"AUTO3\", \"START3A\") VALUES ('True', '06:15:00');"
                    "CREATE TABLE SetTimesTbl (\"Start Time1a\" TEXT);"
                    "INSERT INTO SetTimesTbl VALUES ('06:15:00');"
                    "CREATE TABLE RunTimesTbl (Run1a TEXT);")
                .arg(cols.join(", "));
        QProcess p;
        p.start(sqlite, {path, script});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);

        auto db = Database::open(path, kToday);
        const auto rec = db->readSettings();
        QCOMPARE(rec.value("auto3"), QStringLiteral("True"));
        QCOMPARE(rec.value("start3a"), QStringLiteral("06:15:00"));
        QCOMPARE(rec.value("sun3"), QString()); // NULL reads as an empty text
        QCOMPARE(db->listValues(kStartTimesTable, kStartTimesField), QStringList{"06:15:00"});
        db->writeSettings({{"Sun3", "True"}});
        QCOMPARE(db->readSettings().value("sun3"), QStringLiteral("True"));
    }

    void unusableFilesAreRefusedAndLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not sqlite") << QByteArray("this is a letter, not a database\n").repeated(200)
                                    << "not a settings database";
        QTest::newRow("empty sqlite") << QByteArray() << "table SaveSettingsTbl is missing";
    }
    void unusableFilesAreRefusedAndLeftAlone()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("Kestra3.db");
        {
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            f.write(content);
        }
        try {
            Database::open(path, kToday);
            QFAIL("the file was accepted");
        } catch (const Failure& f) {
            QCOMPARE(f.number, 3051);
            QVERIFY2(f.description.contains(path), qPrintable(f.description));
            QVERIFY2(f.description.contains(reason), qPrintable(f.description));
        }
        QCOMPARE(bytesOf(path), content);
    }

    // A good file that cannot be used just now is not called "not a settings
    // database": the user is told who holds it, or that the disk is the problem.
    void goodFileThatCannotBeUsedSaysWhy_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QString>("reason");
        QTest::newRow("locked by another program") << "lock" << "in use by another program";
        QTest::newRow("journal path is a directory") << "journal" << "a disk problem";
    }
    void goodFileThatCannotBeUsedSaysWhy()
    {
        QFETCH(QString, obstacle);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("Kestra3.db");
        Database::open(path, kToday);
        const QByteArray before = bytesOf(path);
        const QString holder = QStringLiteral("holder");
        {
            QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", holder);
            other.setDatabaseName(path);
            QVERIFY(other.open());
            if (obstacle == "lock") QVERIFY(QSqlQuery(other).exec("BEGIN EXCLUSIVE"));
            if (obstacle == "journal") QVERIFY(QDir().mkdir(path + "-journal"));
            try {
                Database::open(path, kToday);
                QFAIL("the file was accepted");
            } catch (const Failure& f) {
                QVERIFY2(f.description.contains(reason), qPrintable(f.description));
                QVERIFY2(!f.description.contains("not a settings database"), qPrintable(f.description));
            }
            QSqlQuery(other).exec("ROLLBACK");
        }
        QSqlDatabase::removeDatabase(holder);
        QCOMPARE(bytesOf(path), before);
    }

    void recordWithoutAFieldIsRefused()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("k.db");
        {
            auto db = Database::open(path, kToday);
        }
        QProcess p;
        const QString sqlite = QStandardPaths::findExecutable("sqlite3");
        if (sqlite.isEmpty()) QSKIP("sqlite3 is not installed");
        p.start(sqlite, {path, "ALTER TABLE SaveSettingsTbl DROP COLUMN \"3INP OFF8\";"});
        QVERIFY(p.waitForFinished(10000));
        const QByteArray before = bytesOf(path);
        QCOMPARE(failureNumber([&] { Database::open(path, kToday); }), 3051);
        QCOMPARE(bytesOf(path), before);
    }

    void twoCopiesOfTheRecordSaveTheirOwnFields()
    {
        QTemporaryDir dir;
        auto db = Database::open(dir.filePath("k.db"), kToday);
        // The main window and channel 3's window both bind Loc3; each also binds its own fields.
        QString mainLoc, mainOutput, chanLoc, chanDay;
        DataSource main(*db), channel(*db);
        main.bind(
            "Loc3", [&] { return mainLoc; }, [&](const QString& v) { mainLoc = v; });
        main.bind(
            "output", [&] { return mainOutput; }, [&](const QString& v) { mainOutput = v; });
        channel.bind(
            "Loc3", [&] { return chanLoc; }, [&](const QString& v) { chanLoc = v; });
        channel.bind(
            "Mon3", [&] { return chanDay; }, [&](const QString& v) { chanDay = v; });
        main.refresh();
        channel.refresh();

        mainLoc = "Pump";
        mainOutput = "126";
        chanDay = "True";
        channel.save(); // Loc3 unchanged in this copy: not written
        main.save();    // Mon3 not bound here: not written
        const auto rec = db->readSettings();
        QCOMPARE(rec.value("loc3"), QStringLiteral("Pump"));
        QCOMPARE(rec.value("output"), QStringLiteral("126"));
        QCOMPARE(rec.value("mon3"), QStringLiteral("True"));
        QVERIFY(!main.hasChanges());
        QVERIFY(!channel.hasChanges());
    }

    // A line edit holds at most 32767 characters: a longer stored text is shown
    // cut, and must not be written back cut unless the user edits it.
    void aValueTheControlCannotHoldIsKeptUntilEdited()
    {
        QTemporaryDir dir;
        auto db = Database::open(dir.filePath("k.db"), kToday);
        const QString longText(100000, QLatin1Char('x'));
        db->writeSettings({{"Loc1", longText}, {"Loc2", longText}});
        QString loc1, loc2;
        DataSource data(*db);
        data.bind(
            "Loc1", [&] { return loc1; }, [&](const QString& v) { loc1 = v.left(32767); });
        data.bind(
            "Loc2", [&] { return loc2; }, [&](const QString& v) { loc2 = v.left(32767); });
        data.refresh();
        QVERIFY(!data.hasChanges());
        loc2 = "Pump";
        data.close();
        QCOMPARE(db->readSettings().value("loc1"), longText);
        QCOMPARE(db->readSettings().value("loc2"), QStringLiteral("Pump"));
        QVERIFY(!data.hasChanges());
    }

    void refreshRunsTheValidationAndDropsTheRest()
    {
        QTemporaryDir dir;
        auto db = Database::open(dir.filePath("k.db"), kToday);
        QString start, day;
        DataSource data(*db);
        data.bind(
            "Start3a", [&] { return start; }, [&](const QString& v) { start = v; });
        data.bind(
            "Sun3", [&] { return day; }, [&](const QString& v) { day = v; });
        int validations = 0;
        data.setValidationHandler([&] {
            ++validations;
            data.writeField("start3a", start);
        });
        data.refresh();
        QCOMPARE(validations, 0); // nothing to leave before the first read
        start = "07:00:00";
        day = "True";
        data.refresh();
        QCOMPARE(validations, 1);
        QCOMPARE(start, QStringLiteral("07:00:00"));
        QCOMPARE(day, QStringLiteral("False"));
        day = "True";
        data.close(); // validation, then the changed bound fields
        QCOMPARE(db->readSettings().value("sun3"), QStringLiteral("True"));
    }

    void aSaveIsAllOrNothing()
    {
        QTemporaryDir dir;
        auto db = Database::open(dir.filePath("k.db"), kToday);
        QCOMPARE(failureNumber([&] { db->writeSettings({{"Sun3", "True"}, {"NoSuchField", "x"}}); }), 3051);
        QCOMPARE(db->readSettings().value("sun3"), QStringLiteral("False"));
    }
};

QTEST_GUILESS_MAIN(TstDatabase)
#include "tst_database.moc"
