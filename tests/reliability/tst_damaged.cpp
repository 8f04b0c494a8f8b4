#include "reliability.h"

#include <QCryptographicHash>

// The program started on settings databases that are damaged, odd or out of
// reach. It never crashes or hangs and ends on SIGTERM within 2 s. A file it
// cannot use is refused with one message and left exactly as it was, and the
// port is never used; a file it can use runs with at most the messages its bad
// values call for, and what it did not edit stays as it was.

using namespace reliability;

namespace {

const QString kMiB = QString(1 << 20, QLatin1Char('x'));
const QByteArray kNotUtf8 = QByteArray::fromHex("48e9ff6c6c6f"); // "H", Latin-1 e-acute, 0xFF, "llo"

bool execute(const QString& path, const QStringList& statements)
{
    const Connection c(path, QString());
    QSqlQuery q(c.db());
    return std::all_of(statements.begin(), statements.end(), [&](const QString& s) { return q.exec(s); });
}

QStringList rowValues(const QString& path, const QString& select)
{
    const Connection c(path, QStringLiteral("QSQLITE_OPEN_READONLY"));
    QSqlQuery q(c.db());
    QStringList values;
    if (q.exec(select) && q.next())
        for (int i = 0; i < q.record().count(); ++i)
            values << (q.isNull(i) ? QStringLiteral("<NULL>") : q.value(i).toString());
    return values;
}

// What a refused path must still be afterwards: the same kind of thing with the
// same contents and mode.
QString fingerprint(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink()) return QStringLiteral("link to ") + info.symLinkTarget();
    if (info.isDir())
        return QStringLiteral("directory of ") +
               QDir(path)
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
                   .join(QLatin1Char(','));
    if (!info.exists()) return QStringLiteral("nothing");
    return QStringLiteral("file, mode %1, sha1 %2")
        .arg(int(info.permissions()), 0, 16)
        .arg(QString::fromLatin1(QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha1).toHex()));
}

QString allColumnsNull()
{
    QStringList sets;
    for (const QString& f : kestra::store::settingsFields())
        sets << kestra::store::quoted(f) + QStringLiteral(" = NULL");
    return QStringLiteral("UPDATE SaveSettingsTbl SET ") + sets.join(QStringLiteral(", "));
}

enum class Outcome { Refused, Runs };

} // namespace

Q_DECLARE_METATYPE(Outcome)

class TstDamaged : public QObject
{
    Q_OBJECT

    Template m_template;
    std::unique_ptr<QProcess> m_holder; // another program holding the database
    int m_tried = 0, m_refused = 0, m_ran = 0;

    // The sqlite3 tool in an exclusive transaction on the file, until it is told to end.
    bool lock(const QString& db)
    {
        m_holder = std::make_unique<QProcess>();
        m_holder->start(QStringLiteral("sqlite3"), {db});
        m_holder->write("BEGIN EXCLUSIVE;\nSELECT 'locked';\n");
        return waitUntil(
                   [&] {
                       return m_holder->readAllStandardOutput().contains("locked") ||
                              m_holder->state() == QProcess::NotRunning;
                   },
                   10s) &&
               m_holder->state() == QProcess::Running;
    }

    void unlock()
    {
        if (!m_holder) return;
        m_holder->write("ROLLBACK;\n.quit\n");
        m_holder->closeWriteChannel();
        if (!m_holder->waitForFinished(5000)) m_holder->kill();
        m_holder.reset();
    }

    // Lays out the database of a row; false when that fails.
    bool lay(const QString& damage, const Sandbox& box, const Build& b)
    {
        const QString db = box.databasePath(b);
        QDir().mkpath(box.programDir());
        if (damage == QLatin1String("directory")) return QDir().mkpath(db);
        if (damage == QLatin1String("symlink to /dev/null"))
            return QFile::link(QStringLiteral("/dev/null"), db);
        if (damage == QLatin1String("zero-length")) return writeFile(db, {});
        if (damage == QLatin1String("random bytes")) {
            std::mt19937_64 rng = trialRandom(21, 0);
            QByteArray bytes(16384, Qt::Uninitialized);
            for (char& c : bytes)
                c = char(uniform(rng, 0, 255));
            return writeFile(db, bytes);
        }
        if (damage == QLatin1String("no tables"))
            return execute(db, {QStringLiteral("PRAGMA user_version = 7")}) && QFileInfo(db).size() > 0;
        if (!m_template.copyTo(box, b)) return false;
        if (damage == QLatin1String("truncated")) {
            const QByteArray whole = readFile(db);
            return writeFile(db, whole.left(whole.size() / 2));
        }
        if (damage == QLatin1String("a missing column"))
            return execute(db, {QStringLiteral("ALTER TABLE SaveSettingsTbl DROP COLUMN Run3a")});
        if (damage == QLatin1String("no record"))
            return execute(db, {QStringLiteral("DELETE FROM SaveSettingsTbl")});
        if (damage == QLatin1String("two records"))
            return execute(db, {QStringLiteral("INSERT INTO SaveSettingsTbl SELECT * FROM SaveSettingsTbl"),
                                QStringLiteral("UPDATE SaveSettingsTbl SET Loc1 = 'second', output = '7' "
                                               "WHERE rowid = (SELECT max(rowid) FROM SaveSettingsTbl)")});
        if (damage == QLatin1String("all NULL")) return execute(db, {allColumnsNull()});
        if (damage == QLatin1String("1 MiB values"))
            return box.setFields(b, {{QStringLiteral("Loc1"), kMiB},
                                     {QStringLiteral("Start3a"), kMiB},
                                     {QStringLiteral("file1"), kMiB}});
        if (damage == QLatin1String("not UTF-8")) {
            const QString bytes = QString::fromLatin1(kNotUtf8.toHex());
            return execute(db, {QStringLiteral("UPDATE SaveSettingsTbl SET Loc1 = CAST(x'%1' AS TEXT), "
                                               "file1 = CAST(x'%1' AS TEXT)")
                                    .arg(bytes)});
        }
        if (damage == QLatin1String("read-only")) return QFile::setPermissions(db, QFile::ReadOwner);
        return damage == QLatin1String("locked by another program");
    }

    // What a row that runs must have kept; empty when it did.
    static QString kept(const QString& damage, const Sandbox& box, const Build& b, const QStringList& second)
    {
        const QString db = box.databasePath(b);
        if (damage == QLatin1String("two records")) {
            const QStringList now =
                rowValues(db, QStringLiteral("SELECT * FROM SaveSettingsTbl ORDER BY rowid DESC LIMIT 1"));
            if (now != second) return QStringLiteral("the second record changed");
            if (rowValues(db, QStringLiteral("SELECT count(*) FROM SaveSettingsTbl")) != QStringList{"2"})
                return QStringLiteral("the records were not left two");
        }
        if (damage == QLatin1String("1 MiB values")) {
            const QStringList lengths =
                rowValues(db, QStringLiteral("SELECT length(Loc1), length(Start3a), length(file1) FROM "
                                             "SaveSettingsTbl"));
            const QString mib = QString::number(kMiB.size());
            if (lengths != QStringList{mib, mib, mib})
                return QStringLiteral("lengths now %1").arg(lengths.join(QLatin1Char(' ')));
        }
        if (damage == QLatin1String("not UTF-8")) {
            const QString hex = QString::fromLatin1(kNotUtf8.toHex()).toUpper();
            const QStringList now =
                rowValues(db, QStringLiteral("SELECT hex(Loc1), hex(file1) FROM SaveSettingsTbl"));
            if (now != QStringList{hex, hex})
                return QStringLiteral("bytes now %1").arg(now.join(QLatin1Char(' ')));
        }
        return {};
    }

private slots:
    void cleanup() { unlock(); }

    void initTestCase()
    {
        QVERIFY2(m_template.make(kestra3()), qPrintable(m_template.error()));
        qInfo("seed %llu", seed());
    }

    void damagedDatabase_data()
    {
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<int>("messages");   // when it runs; a refusal is always one
        QTest::addColumn<QString>("saying"); // part of the refusal

        const QString notSettings = QStringLiteral("not a settings database");
        QTest::newRow("zero-length") << Outcome::Refused << 1 << notSettings;
        QTest::newRow("truncated") << Outcome::Refused << 1 << QStringLiteral("Kestra3.db");
        QTest::newRow("random bytes") << Outcome::Refused << 1 << notSettings;
        QTest::newRow("no tables") << Outcome::Refused << 1 << notSettings;
        QTest::newRow("a missing column") << Outcome::Refused << 1 << QStringLiteral("Run3a");
        QTest::newRow("no record") << Outcome::Refused << 1 << QStringLiteral("no record");
        QTest::newRow("directory") << Outcome::Refused << 1 << QStringLiteral("not a file");
        QTest::newRow("symlink to /dev/null") << Outcome::Refused << 1 << QStringLiteral("not a file");
        QTest::newRow("read-only") << Outcome::Refused << 1 << QStringLiteral("Kestra3.db");
        QTest::newRow("locked by another program")
            << Outcome::Refused << 1 << QStringLiteral("in use by another program");
        // The first record is the settings record; any other is left alone.
        QTest::newRow("two records") << Outcome::Runs << 0 << QString();
        // One bad value in every window: one message, not one per window.
        QTest::newRow("all NULL") << Outcome::Runs << 1 << QString();
        QTest::newRow("1 MiB values") << Outcome::Runs << 1 << QString();
        QTest::newRow("not UTF-8") << Outcome::Runs << 0 << QString();
    }

    void damagedDatabase()
    {
        QFETCH(Outcome, outcome);
        QFETCH(int, messages);
        QFETCH(QString, saying);
        const QString damage = QString::fromLatin1(QTest::currentDataTag());
        ++m_tried;
        Sandbox box;
        Build b = kestra3();
        QVERIFY2(lay(damage, box, b), "cannot lay out the database");
        const QString before = fingerprint(box.databasePath(b));
        const QStringList second = rowValues(
            box.databasePath(b), QStringLiteral("SELECT * FROM SaveSettingsTbl ORDER BY rowid DESC LIMIT 1"));
        QStringList launcher;
        if (damage == QLatin1String("read-only")) {
            const auto dropped = dropPrivileges(box, b);
            QVERIFY2(dropped, "cannot hand the sandbox to an unprivileged user");
            launcher = *dropped;
        }
        // Last: a file read in this process would drop a lock this process held.
        if (damage == QLatin1String("locked by another program"))
            QVERIFY2(lock(box.databasePath(b)), "sqlite3 could not lock the database");

        Program k(box, b);
        k.setLauncher(launcher);
        k.setEnvironment(QStringLiteral("HOME"), box.root());
        QVERIFY(k.start());
        if (outcome == Outcome::Refused) {
            QVERIFY2(waitUntil([&] { return messageCount(k.standardError(), b) > 0; }, 10s),
                     qPrintable(said(k)));
        } else {
            QVERIFY2(k.waitRunning(10s), qPrintable(said(k)));
            // The windows tick twice a second; give every one of them the chance to complain.
            QTest::qWait(1500);
            QCOMPARE(k.process().state(), QProcess::Running);
        }
        const QString late = termination(k);
        QVERIFY2(late.isEmpty(), qPrintable(late));
        QCOMPARE(k.process().exitStatus(), QProcess::NormalExit);
        const QString err = k.standardError();
        QVERIFY2(err.size() < 16 * 1024, "the messages are not short"); // 1 MiB values are not repeated
        unlock();

        if (outcome == Outcome::Refused) {
            QCOMPARE(k.process().exitCode(), 1);
            QVERIFY2(messageCount(err, b) == 1,
                     qPrintable(QStringLiteral("%1 messages: %2").arg(messageCount(err, b)).arg(said(k))));
            QVERIFY2(err.contains(saying), qPrintable(said(k)));
            QCOMPARE(fingerprint(box.databasePath(b)), before);
            QVERIFY2(!QFileInfo::exists(box.portPath(b)), "the port was used");
        } else {
            QCOMPARE(k.process().exitCode(), 0);
            QVERIFY2(messageCount(err, b) == messages,
                     qPrintable(QStringLiteral("%1 messages: %2").arg(messageCount(err, b)).arg(said(k))));
            QCOMPARE(box.port(b), (PortBytes{255, 0x78, 0}));
            const QString lost = kept(damage, box, b, second);
            QVERIFY2(lost.isEmpty(), qPrintable(lost));
        }
        ++(outcome == Outcome::Refused ? m_refused : m_ran);
    }

    void cleanupTestCase()
    {
        qInfo("damaged databases: %d tried, %d as they should be (%d refused untouched, %d run)", m_tried,
              m_refused + m_ran, m_refused, m_ran);
    }
};

QTEST_GUILESS_MAIN(TstDamaged)
#include "tst_damaged.moc"
