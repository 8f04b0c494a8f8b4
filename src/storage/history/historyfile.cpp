#include "storage/history/historyfile.h"

#include "base/failure.h"
#include "base/filehandles.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <limits>

namespace kestra::history {

namespace {

// PRAGMA user_version of the tables below.
constexpr int kSchemaVersion = 1;

// The history's database, its write-ahead log and their shared memory.
constexpr int kHandlesOfTheFile = 3;

[[noreturn]] void fail(const QString& path, const QString& reason)
{
    throw Failure(failure::kDatabase, QStringLiteral("History file %1: %2")
                                          .arg(path, fileHandleShortageOr(reason, kHandlesOfTheFile)));
}

using store::errorText;

// SQLite's word that the file is no database or a damaged one.
bool isDamage(const QSqlError& e)
{
    constexpr int kCorrupt = 11, kNotADatabase = 26;
    const int code = store::resultCode(e);
    return code == kCorrupt || code == kNotADatabase;
}

[[noreturn]] void failUnusable(const QString& path, const QString& reason)
{
    throw Unusable(failure::kDatabase, QStringLiteral("History file %1: %2").arg(path, reason));
}

// How many records a count reads between two looks at its stop flag: a few ms.
constexpr int kStopLook = 4096;

const char* const kSchema[] = {
    // ms is the primary key (the rowid), so a record costs no index.
    "CREATE TABLE port_writes (ms INTEGER PRIMARY KEY, byte INTEGER NOT NULL, outputs INTEGER NOT NULL, "
    "causes INTEGER NOT NULL)",
    "CREATE TABLE input_changes (ms INTEGER PRIMARY KEY, inputs INTEGER NOT NULL, changed INTEGER NOT NULL)",
    "CREATE TABLE cause_names (code INTEGER PRIMARY KEY, name TEXT NOT NULL)",
    "CREATE TABLE hours (output INTEGER PRIMARY KEY, reset_ms INTEGER NOT NULL, total_ms INTEGER NOT NULL, "
    "day_ms INTEGER NOT NULL, week_ms INTEGER NOT NULL, month_ms INTEGER NOT NULL, upto_ms INTEGER NOT NULL, "
    "outputs INTEGER NOT NULL)",
    // Readable rows for people and scripts: one per output or input that changed.
    "CREATE VIEW output_changes AS WITH o(output) AS (VALUES (1), (2), (3), (4), (5), (6), (7), (8)) "
    "SELECT w.ms, strftime('%Y-%m-%d %H:%M:%f', w.ms / 1000.0, 'unixepoch', 'localtime') AS time, o.output, "
    "CASE (w.outputs >> (o.output - 1)) & 1 WHEN 1 THEN 'ON' ELSE 'OFF' END AS state, "
    "c.name AS cause, w.byte FROM port_writes w JOIN o ON (w.causes >> (4 * (o.output - 1))) & 15 != 0 "
    "LEFT JOIN cause_names c ON c.code = (w.causes >> (4 * (o.output - 1))) & 15",
    "CREATE VIEW input_events AS WITH i(input) AS (VALUES (1), (2), (3), (4), (5)) "
    "SELECT c.ms, strftime('%Y-%m-%d %H:%M:%f', c.ms / 1000.0, 'unixepoch', 'localtime') AS time, i.input, "
    "CASE (c.inputs >> (i.input - 1)) & 1 WHEN 1 THEN 'ON' ELSE 'OFF' END AS state "
    "FROM input_changes c JOIN i ON (c.changed >> (i.input - 1)) & 1 = 1",
};

const char* const kTables[] = {"port_writes", "input_changes", "cause_names", "hours"};

PortRecord portRecordOf(const QSqlQuery& q)
{
    return PortRecord{q.value(0).toLongLong(), quint8(q.value(1).toUInt()), quint8(q.value(2).toUInt()),
                      quint32(q.value(3).toLongLong())};
}

InputRecord inputRecordOf(const QSqlQuery& q)
{
    return InputRecord{q.value(0).toLongLong(), quint8(q.value(1).toUInt()), quint8(q.value(2).toUInt())};
}

// Every row of a query, each made into a record.
template <typename Of>
auto selectAll(const QSqlDatabase& db, const QString& path, const QString& sql, const QVariantList& binds,
               Of of)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant& v : binds)
        q.addBindValue(v);
    if (!q.exec()) fail(path, errorText(q.lastError()));
    QList<decltype(of(q))> out;
    while (q.next())
        out.append(of(q));
    return out;
}

} // namespace

HistoryFile::HistoryFile(QString path, store::SqliteConnection connection)
    : m_path(std::move(path)), m_connection(std::move(connection))
{}

HistoryFile::~HistoryFile() = default;

std::unique_ptr<HistoryFile> HistoryFile::open(const QString& path, Access access)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) failUnusable(path, QStringLiteral("not a file"));
    if (!info.exists()) {
        if (access == Access::Read) fail(path, QStringLiteral("there is no history yet"));
        // Made private before SQLite writes a byte; its WAL files take the same mode.
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) fail(path, f.errorString());
        f.close();
        if (!QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner))
            fail(path, QStringLiteral("cannot make it private to the user"));
    }
    // A lock held by another program is waited for briefly, in the writer's
    // thread or in the window, never in the switching.
    std::unique_ptr<HistoryFile> self(new HistoryFile(
        path, store::SqliteConnection(QStringLiteral("history"), path,
                                      access == Access::Read
                                          ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=500")
                                          : QStringLiteral("QSQLITE_BUSY_TIMEOUT=500"))));
    if (!self->m_connection.open()) fail(path, errorText(self->m_connection.lastError()));
    self->createOrCheck(access);
    return self;
}

void HistoryFile::createOrCheck(Access access)
{
    QSqlDatabase db = m_connection.db();
    // A file that is not SQLite fails here, at its first read.
    QSqlError error;
    const std::optional<int> objects = store::schemaObjects(db, &error);
    if (!objects) {
        // A lock held elsewhere or a failing disk says nothing about the file itself.
        if (isDamage(error))
            failUnusable(m_path, QStringLiteral("not a history file (%1)").arg(errorText(error)));
        fail(m_path, errorText(error));
    }
    QSqlQuery q(db);
    if (*objects > 0) {
        // Someone else's file stays as it is: checked before anything is written.
        if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
            fail(m_path, errorText(q.lastError()));
        if (q.value(0).toInt() > kSchemaVersion)
            failUnusable(m_path,
                         QStringLiteral("written by a newer program (version %1)").arg(q.value(0).toInt()));
        q.finish();
        for (const char* t : kTables)
            if (!store::hasTable(db, QLatin1String(t)))
                failUnusable(m_path,
                             QStringLiteral("not a history file: table %1 is missing").arg(QLatin1String(t)));
    } else if (access == Access::Read) {
        fail(m_path, QStringLiteral("there is no history yet"));
    }
    if (access == Access::Write) {
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next() ||
            q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            fail(m_path, QStringLiteral("cannot use write-ahead logging (%1)").arg(errorText(q.lastError())));
        q.finish();
        // A commit is safe against the program being killed; a power cut may lose the last ones.
        q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    }
    if (*objects == 0) {
        if (!db.transaction()) fail(m_path, errorText(db.lastError()));
        for (const char* sql : kSchema)
            if (!q.exec(QLatin1String(sql))) {
                const QString e = errorText(q.lastError());
                db.rollback();
                fail(m_path, e);
            }
        q.prepare(QStringLiteral("INSERT INTO cause_names (code, name) VALUES (?, ?)"));
        for (int code = 1; code <= kLastCause; ++code) {
            q.addBindValue(code);
            q.addBindValue(causeName(code));
            if (!q.exec()) {
                const QString e = errorText(q.lastError());
                db.rollback();
                fail(m_path, e);
            }
        }
        q.exec(QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion));
        if (!db.commit()) fail(m_path, errorText(db.lastError()));
    } else if (access == Access::Write) {
        // A file made before the calendar's causes learns their names; one that
        // cannot take them still records, its view shows no name for them.
        q.prepare(QStringLiteral("INSERT OR IGNORE INTO cause_names (code, name) VALUES (?, ?)"));
        for (int code = int(Cause::Sunrise); code <= kLastCause; ++code) {
            q.addBindValue(code);
            q.addBindValue(causeName(code));
            q.exec();
        }
    }
}

HistoryFile::State HistoryFile::state() const
{
    State s;
    const auto ports = selectAll(
        m_connection.db(), m_path,
        QStringLiteral("SELECT ms, byte, outputs, causes FROM port_writes ORDER BY ms DESC LIMIT 1"), {},
        portRecordOf);
    if (!ports.isEmpty()) s.lastPort = ports.first();
    const auto inputs =
        selectAll(m_connection.db(), m_path,
                  QStringLiteral("SELECT ms, inputs, changed FROM input_changes ORDER BY ms DESC LIMIT 1"),
                  {}, inputRecordOf);
    if (!inputs.isEmpty()) s.lastInput = inputs.first();
    QSqlQuery q(m_connection.db());
    if (!q.exec(QStringLiteral(
            "SELECT output, reset_ms, total_ms, day_ms, week_ms, month_ms, upto_ms, outputs FROM hours")))
        fail(m_path, errorText(q.lastError()));
    HoursTracker::Saved saved;
    int rows = 0;
    while (q.next()) {
        const int m = q.value(0).toInt();
        if (m < 1 || m > 8) continue;
        ++rows;
        saved.resetMs[m - 1] = q.value(1).toLongLong();
        saved.totalMs[m - 1] = q.value(2).toLongLong();
        saved.dayMs[m - 1] = q.value(3).toLongLong();
        saved.weekMs[m - 1] = q.value(4).toLongLong();
        saved.monthMs[m - 1] = q.value(5).toLongLong();
        saved.uptoMs = q.value(6).toLongLong();
        saved.outputs = quint8(q.value(7).toUInt());
    }
    if (rows == 8) s.hours = saved;
    return s;
}

void HistoryFile::write(const QList<PortRecord>& ports, const QList<InputRecord>& inputs,
                        const std::optional<HoursTracker::Saved>& hours)
{
    QSqlDatabase db = m_connection.db();
    if (!db.transaction()) fail(m_path, errorText(db.lastError()));
    try {
        QSqlQuery q(db);
        const auto run = [&] {
            if (!q.exec()) fail(m_path, errorText(q.lastError()));
        };
        // The clock set back, or two writes in one millisecond: the next free one.
        const auto insert = [&](qint64 ms, const auto& bind) {
            for (int tries = 0; tries < 1000; ++tries, ++ms) {
                q.addBindValue(ms);
                bind();
                run();
                if (q.numRowsAffected() == 1) return;
            }
            fail(m_path, QStringLiteral("no free millisecond near %1").arg(ms));
        };
        q.prepare(QStringLiteral("INSERT INTO port_writes (ms, byte, outputs, causes) VALUES (?, ?, ?, ?) "
                                 "ON CONFLICT (ms) DO NOTHING"));
        for (const PortRecord& r : ports)
            insert(r.ms, [&] {
                q.addBindValue(int(r.byte));
                q.addBindValue(int(r.outputs));
                q.addBindValue(qint64(r.causes));
            });
        q.prepare(QStringLiteral(
            "INSERT INTO input_changes (ms, inputs, changed) VALUES (?, ?, ?) ON CONFLICT (ms) DO NOTHING"));
        for (const InputRecord& r : inputs)
            insert(r.ms, [&] {
                q.addBindValue(int(r.inputs));
                q.addBindValue(int(r.changed));
            });
        if (hours) {
            q.prepare(
                QStringLiteral("INSERT OR REPLACE INTO hours (output, reset_ms, total_ms, day_ms, week_ms, "
                               "month_ms, upto_ms, outputs) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
            for (int m = 0; m < 8; ++m) {
                for (const QVariant& v :
                     {QVariant(m + 1), QVariant(hours->resetMs[m]), QVariant(hours->totalMs[m]),
                      QVariant(hours->dayMs[m]), QVariant(hours->weekMs[m]), QVariant(hours->monthMs[m]),
                      QVariant(hours->uptoMs), QVariant(int(hours->outputs))})
                    q.addBindValue(v);
                run();
            }
        }
    } catch (...) {
        db.rollback();
        throw;
    }
    if (!db.commit()) {
        const QString e = errorText(db.lastError());
        db.rollback();
        fail(m_path, e);
    }
}

int HistoryFile::prune(qint64 beforeMs, const std::atomic<bool>* stop)
{
    // After a long pause there may be tens of millions to delete: one day a
    // statement, so that closing need not wait for all of them.
    constexpr qint64 kDayMs = 24 * 3600 * 1000LL;
    QSqlQuery q(m_connection.db());
    int n = 0;
    for (const QString& table : {QStringLiteral("port_writes"), QStringLiteral("input_changes")}) {
        q.prepare(
            QStringLiteral("DELETE FROM %1 WHERE ms < min(?, (SELECT min(ms) FROM %1) + ?)").arg(table));
        for (;;) {
            if (stop && stop->load(std::memory_order_relaxed)) return n;
            q.addBindValue(beforeMs);
            q.addBindValue(kDayMs);
            if (!q.exec()) fail(m_path, errorText(q.lastError()));
            const int deleted = q.numRowsAffected();
            if (deleted <= 0) break;
            n += deleted;
        }
    }
    return n;
}

QList<PortRecord> HistoryFile::portRecords(qint64 from, qint64 to, int output, int limit) const
{
    const QString which =
        output ? QStringLiteral(" AND (causes >> %1) & 15 != 0").arg(4 * (output - 1)) : QString();
    return selectAll(
        m_connection.db(), m_path,
        QStringLiteral("SELECT ms, byte, outputs, causes FROM port_writes WHERE ms >= ? AND ms < ?%1 "
                       "ORDER BY ms DESC LIMIT ?")
            .arg(which),
        {from, to, limit}, portRecordOf);
}

QList<InputRecord> HistoryFile::inputRecords(qint64 from, qint64 to, int input, int limit) const
{
    const QString which = input ? QStringLiteral(" AND (changed >> %1) & 1 = 1").arg(input - 1) : QString();
    return selectAll(
        m_connection.db(), m_path,
        QStringLiteral("SELECT ms, inputs, changed FROM input_changes WHERE ms >= ? AND ms < ?%1 "
                       "ORDER BY ms DESC LIMIT ?")
            .arg(which),
        {from, to, limit}, inputRecordOf);
}

QList<PortRecord> HistoryFile::portRecordsBetween(qint64 from, qint64 to) const
{
    return selectAll(
        m_connection.db(), m_path,
        QStringLiteral(
            "SELECT ms, byte, outputs, causes FROM port_writes WHERE ms >= ? AND ms < ? ORDER BY ms"),
        {from, to}, portRecordOf);
}

std::optional<quint8> HistoryFile::outputsBefore(qint64 ms) const
{
    const QList<int> last =
        selectAll(m_connection.db(), m_path,
                  QStringLiteral("SELECT outputs FROM port_writes WHERE ms < ? ORDER BY ms DESC LIMIT 1"),
                  {ms}, [](const QSqlQuery& q) { return q.value(0).toInt(); });
    if (last.isEmpty()) return std::nullopt;
    return quint8(last.first());
}

QList<PortRecord> HistoryFile::allPortRecords() const
{
    return portRecordsBetween(std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max());
}

bool HistoryFile::countHours(HoursTracker& hours, qint64 afterMs, const std::atomic<bool>& stop) const
{
    QSqlQuery q(m_connection.db());
    // Forward only: the driver keeps no row it has passed, so memory stays flat.
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT ms, outputs FROM port_writes WHERE ms > ? ORDER BY ms"));
    q.addBindValue(afterMs);
    const auto failRead = [&] {
        const QSqlError e = q.lastError();
        if (isDamage(e)) failUnusable(m_path, errorText(e));
        fail(m_path, errorText(e));
    };
    if (!q.exec()) failRead();
    for (qint64 n = 1; q.next(); ++n) {
        hours.change(q.value(0).toLongLong(), quint8(q.value(1).toUInt()));
        if (n % kStopLook == 0 && stop.load(std::memory_order_relaxed)) return false;
    }
    // The rows end early when a read fails on the way.
    if (q.lastError().isValid()) failRead();
    return true;
}

} // namespace kestra::history
