#include "base/failure.h"
#include "logic/history/rows.h"
#include "storage/history/historyfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace kestra;
using namespace kestra::history;

namespace {
QByteArray digest(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// What another program reading the file with SQL sees.
QStringList sql(const QString& path, const QString& query)
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        db.open();
        QSqlQuery q(db);
        q.exec(query);
        while (q.next()) {
            QStringList cols;
            for (int i = 0; q.value(i).isValid(); ++i)
                cols << q.value(i).toString();
            out << cols.join(QLatin1Char('|'));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    return out;
}

quint32 causes(std::initializer_list<std::pair<int, Cause>> list)
{
    quint32 c = 0;
    for (const auto& [m, cause] : list)
        c = withCause(c, m, cause);
    return c;
}
} // namespace

class TstHistoryFile : public QObject
{
    Q_OBJECT
private slots:
    // Private whatever the umask; the WAL beside it too; readable by SQL.
    void newFileIsPrivateAndReadable()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("History3BC.db"));
        const mode_t old = umask(0);
        auto file = HistoryFile::open(path, HistoryFile::Access::Write);
        file->write({{1000, 251, 4, causes({{3, Cause::Schedule}})}}, {{1100, 1, 0x1F}}, std::nullopt);
        umask(old);
        for (const QString& p : {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")}) {
            QVERIFY2(QFile::exists(p), qPrintable(p));
            struct stat st
            {
            };
            QCOMPARE(stat(QFile::encodeName(p).constData(), &st), 0);
            QCOMPARE(st.st_mode & 0777, mode_t(0600));
        }
        QCOMPARE(sql(path, QStringLiteral("PRAGMA journal_mode")), QStringList{QStringLiteral("wal")});
        QCOMPARE(sql(path, QStringLiteral("SELECT output, state, cause, byte FROM output_changes")),
                 QStringList{QStringLiteral("3|ON|schedule|251")});
        QCOMPARE(sql(path, QStringLiteral("SELECT input, state FROM input_events")),
                 (QStringList{"1|ON", "2|OFF", "3|OFF", "4|OFF", "5|OFF"}));
    }

    // Records come back as written, newest first and filtered; a record whose
    // millisecond is taken (the clock set back, two writes at once) moves to
    // the next free one instead of being lost; pruning keeps the recent ones.
    void recordsRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("h.db"));
        auto file = HistoryFile::open(path, HistoryFile::Access::Write);
        const PortRecord a{5000, 254, 1, causes({{1, Cause::Pulse}})};
        const PortRecord b{5000, 255, 0, causes({{1, Cause::Pulse}})}; // the same millisecond
        const PortRecord c{9000, 251, 4, causes({{3, Cause::Input2}})};
        file->write({a, b}, {}, std::nullopt);
        file->write({c}, {{7000, 0b10, 0b10}}, std::nullopt);
        PortRecord movedB = b;
        movedB.ms = 5001;
        QCOMPARE(file->portRecords(0, 10000, 0, 10), (QList<PortRecord>{c, movedB, a}));
        QCOMPARE(file->portRecords(0, 10000, 1, 10), (QList<PortRecord>{movedB, a}));
        QCOMPARE(file->portRecords(0, 10000, 3, 1), (QList<PortRecord>{c}));
        QCOMPARE(file->portRecords(5001, 9000, 0, 10), (QList<PortRecord>{movedB}));
        QCOMPARE(file->inputRecords(0, 10000, 2, 10).size(), 1);
        QCOMPARE(file->inputRecords(0, 10000, 1, 10).size(), 0);
        QCOMPARE(file->outputsBefore(5000), std::nullopt); // nothing older: not known
        QCOMPARE(file->outputsBefore(9000), std::optional<quint8>(0));
        QCOMPARE(file->outputsBefore(9001), std::optional<quint8>(4));
        QCOMPARE(file->state().lastPort, std::optional<PortRecord>(c));

        QCOMPARE(file->prune(7000), 2);
        QCOMPARE(file->allPortRecords(), QList<PortRecord>{c});
        QCOMPARE(file->inputRecords(0, 10000, 0, 10).size(), 1);
        // After a long pause the records to go lie days apart: all of them go.
        const qint64 day = 24 * 3600 * 1000LL;
        const PortRecord d{2 * day, 255, 0, causes({{3, Cause::Schedule}})};
        const PortRecord e{5 * day, 254, 1, causes({{1, Cause::Schedule}})};
        file->write({d, e}, {}, std::nullopt);
        QCOMPARE(file->prune(4 * day), 3);
        QCOMPARE(file->allPortRecords(), QList<PortRecord>{e});
    }

    // A file the program cannot use is reported and left exactly as it was.
    void unusableFileIsLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("reason");
        QTest::newRow("damaged") << QByteArray(8192, 'x') << QString() << "not a history file";
        QTest::newRow("another database") << QByteArray() << "CREATE TABLE notes (t TEXT)"
                                          << "table port_writes is missing";
        QTest::newRow("newer program") << QByteArray() << "PRAGMA user_version = 9"
                                       << "newer program";
    }
    void unusableFileIsLeftAlone()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, setup);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("h.db"));
        if (!content.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        } else {
            HistoryFile::open(path, HistoryFile::Access::Write).reset();
            if (setup.startsWith(QLatin1String("CREATE"))) QFile::remove(path);
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery(db).exec(setup);
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("setup"));
        }
        const QByteArray before = digest(path);
        try {
            HistoryFile::open(path, HistoryFile::Access::Write);
            QFAIL("the file was taken");
        } catch (const Failure& f) {
            QVERIFY2(f.description.contains(reason), qPrintable(f.description));
            QVERIFY(f.description.contains(path));
        }
        QCOMPARE(digest(path), before);
        QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
    }

    // One row per output or input that changed, newest first, merged by time;
    // at the same millisecond the write comes first, as it follows the reading.
    void rowsAndCsv_data()
    {
        QTest::addColumn<int>("output");
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("all") << 0 << 0 << 10
                             << QStringList{"3000 Output 1 OFF shutdown 255",
                                            "3000 Output 2 OFF shutdown 255", "2000 Output 1 ON input 3 254",
                                            "2000 Input 3 ON  -1", "1000 Output 2 ON schedule 253"};
        QTest::newRow("limited") << 0 << 0 << 3
                                 << QStringList{"3000 Output 1 OFF shutdown 255",
                                                "3000 Output 2 OFF shutdown 255",
                                                "2000 Output 1 ON input 3 254"};
        QTest::newRow("output 2") << 2 << 0 << 10
                                  << QStringList{"3000 Output 2 OFF shutdown 255",
                                                 "1000 Output 2 ON schedule 253"};
        QTest::newRow("input 3") << 0 << 3 << 10 << QStringList{"2000 Input 3 ON  -1"};
    }
    void rowsAndCsv()
    {
        QFETCH(int, output);
        QFETCH(int, input);
        QFETCH(int, limit);
        // Newest first, as the file gives them.
        const QList<PortRecord> ports = {{3000, 255, 0, causes({{1, Cause::Shutdown}, {2, Cause::Shutdown}})},
                                         {2000, 254, 1, causes({{1, Cause::Input3}})},
                                         {1000, 253, 2, causes({{2, Cause::Schedule}})}};
        const QList<InputRecord> inputs = {{2000, 0b100, 0b100}};
        QStringList lines;
        for (const Row& r : rowsOf(output  ? ports
                                   : input ? QList<PortRecord>{}
                                           : ports,
                                   input    ? inputs
                                   : output ? QList<InputRecord>{}
                                            : inputs,
                                   {output, input}, limit))
            lines << QStringLiteral("%1 %2 %3 %4 %5").arg(r.ms).arg(r.line, r.state, r.cause).arg(r.byte);
        QTEST(lines, "lines");
    }

    void namesAndDurations()
    {
        QCOMPARE(formatDuration(130 * 3600000LL + 5 * 60000 + 9999), QStringLiteral("130:05:09"));
        QCOMPARE(historyFileName(kestra3Config()), QStringLiteral("History3BC.db"));
        QCOMPARE(historyFileName(kestra2Config()), QStringLiteral("History278.db"));
    }
};

QTEST_GUILESS_MAIN(TstHistoryFile)
#include "tst_historyfile.moc"
