#include "storage/store/database.h"

#include "base/errnotext.h"
#include "base/failure.h"
#include "storage/store/schema.h"
#include "storage/store/sqlite.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace kestra::store {

namespace {

[[noreturn]] void fail(const QString& path, const QString& reason)
{
    throw Failure(failure::kDatabase, QStringLiteral("Settings database %1: %2").arg(path, reason));
}

// What SQLite's answer means for the user: a file held by someone else, or a
// disk that lets the file or its journal not be used; empty for anything else.
QString knownReason(const QSqlError& e, const QString& path)
{
    switch (resultCode(e)) {
    case 5: // SQLITE_BUSY
    case 6: // SQLITE_LOCKED
        return QStringLiteral("in use by another program (%1). Close that program and start again.")
            .arg(errorText(e));
    case 8:  // SQLITE_READONLY
    case 10: // SQLITE_IOERR
    case 13: // SQLITE_FULL
    case 14: // SQLITE_CANTOPEN
        return QStringLiteral("a disk problem (%1): the file and its journal %2-journal must be writable, "
                              "on a disk with room.")
            .arg(errorText(e), QFileInfo(path).fileName());
    default:
        return {};
    }
}

// The reason to report: the meaning when it is known, else SQLite's text.
QString reasonFor(const QSqlError& e, const QString& path)
{
    const QString known = knownReason(e, path);
    return known.isEmpty() ? errorText(e) : known;
}

void exec(QSqlQuery& q, const QString& sql, const QString& path)
{
    if (!q.exec(sql)) fail(path, reasonFor(q.lastError(), path));
}

void createFile(QSqlDatabase& db, const QString& path, const QDate& today)
{
    QSqlQuery q(db);
    if (!db.transaction()) fail(path, reasonFor(db.lastError(), path));
    QStringList cols;
    for (const QString& f : settingsFields())
        cols << quoted(f) + QStringLiteral(" TEXT");
    exec(q,
         QStringLiteral("CREATE TABLE %1 (%2)").arg(quoted(kSettingsTable), cols.join(QStringLiteral(", "))),
         path);
    exec(q,
         QStringLiteral("CREATE TABLE %1 (%2 TEXT)").arg(quoted(kStartTimesTable), quoted(kStartTimesField)),
         path);
    exec(q, QStringLiteral("CREATE TABLE %1 (%2 TEXT)").arg(quoted(kRunTimesTable), quoted(kRunTimesField)),
         path);

    QStringList names, marks;
    for (const QString& f : settingsFields()) {
        names << quoted(f);
        marks << QStringLiteral("?");
    }
    q.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(quoted(kSettingsTable), names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
    for (const QString& f : settingsFields())
        q.addBindValue(newRecordValue(f, today));
    if (!q.exec()) fail(path, reasonFor(q.lastError(), path));

    auto fill = [&](const QString& table, const QString& field, const QStringList& values) {
        q.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (?)").arg(quoted(table), quoted(field)));
        for (const QString& v : values) {
            q.addBindValue(v);
            if (!q.exec()) fail(path, reasonFor(q.lastError(), path));
        }
    };
    fill(kStartTimesTable, kStartTimesField, presetStartTimes());
    fill(kRunTimesTable, kRunTimesField, presetRunTimes());
    if (!db.commit()) fail(path, reasonFor(db.lastError(), path));
}

// A new file is made whole under this name beside the real one and renamed
// into place, so that the real name never shows a file without its tables.
QString creationPath(const QString& path)
{
    return path + QStringLiteral(".new");
}

void removeCreationLeftovers(const QString& path)
{
    const QString temp = creationPath(path);
    for (const QString& p : {temp, temp + QStringLiteral("-journal")})
        if (QFileInfo(p).isFile()) QFile::remove(p);
}

void syncDirectoryOf(const QString& path)
{
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Moves the finished file to `path` unless something appeared there meanwhile.
void moveIntoPlace(const QString& temp, const QString& path)
{
    const QByteArray from = QFile::encodeName(temp);
    const QByteArray to = QFile::encodeName(path);
    int rc = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) { // a file system without the flag
        if (QFileInfo::exists(path)) {
            errno = EEXIST;
        } else {
            rc = ::rename(from.constData(), to.constData());
        }
    }
    if (rc != 0) {
        const int err = errno;
        QFile::remove(temp);
        fail(path, QStringLiteral("cannot be put in place (%1)").arg(errnoText(err)));
    }
    syncDirectoryOf(path);
}

// Writes a complete new settings database under the creation name and moves it to `path`.
void createWhole(const QString& path, const QDate& today)
{
    const QString temp = creationPath(path);
    try {
        SqliteConnection connection(QStringLiteral("create"), temp);
        if (!connection.open()) fail(path, reasonFor(connection.lastError(), path));
        QSqlDatabase db = connection.db();
        createFile(db, path, today);
    } catch (...) {
        // The connection is gone by now, so its files can go too.
        removeCreationLeftovers(path);
        throw;
    }
    QFile::setPermissions(temp, QFile::ReadOwner | QFile::WriteOwner);
    moveIntoPlace(temp, path);
}

} // namespace

Database::Database(QString path, SqliteConnection connection)
    : m_path(std::move(path)), m_connection(std::move(connection))
{}

Database::~Database() = default;

std::unique_ptr<Database> Database::open(const QString& path, const QDate& today, bool* created)
{
    removeCreationLeftovers(path);
    const bool exists = QFileInfo::exists(path);
    if (exists && !QFileInfo(path).isFile()) fail(path, QStringLiteral("not a file"));
    if (exists) {
        QFile probe(path);
        if (!probe.open(QIODevice::ReadWrite))
            fail(path,
                 QStringLiteral("cannot be opened for reading and writing (%1)").arg(probe.errorString()));
    }
    if (!exists) createWhole(path, today);
    if (created) *created = !exists;
    std::unique_ptr<Database> self(
        new Database(path, SqliteConnection(QStringLiteral("settings"), path,
                                            QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"))));
    if (!self->m_connection.open()) fail(path, reasonFor(self->m_connection.lastError(), path));
    self->inspect();
    return self;
}

void Database::inspect()
{
    QSqlDatabase db = m_connection.db();
    if (db.tables().isEmpty() && db.lastError().isValid()) fail(m_path, reasonFor(db.lastError(), m_path));
    // A file that is not SQLite at all fails at its first query.
    QSqlError error;
    if (!schemaObjects(db, &error)) {
        const QString known = knownReason(error, m_path);
        fail(m_path,
             known.isEmpty() ? QStringLiteral("not a settings database (%1)").arg(errorText(error)) : known);
    }
    for (const QString& t : {kSettingsTable, kStartTimesTable, kRunTimesTable})
        if (!hasTable(db, t))
            fail(m_path, QStringLiteral("not a settings database: table %1 is missing").arg(t));

    const QSqlRecord rec = db.record(kSettingsTable);
    for (int i = 0; i < rec.count(); ++i)
        m_columns.insert(rec.fieldName(i).toLower(), rec.fieldName(i));
    QStringList missing;
    for (const QString& f : settingsFields())
        if (!m_columns.contains(f.toLower())) missing << f;
    if (!missing.isEmpty())
        fail(m_path, QStringLiteral("not a settings database: %1 has no field %2")
                         .arg(kSettingsTable, missing.mid(0, 5).join(QStringLiteral(", "))));
    if (!hasField(db, kStartTimesTable, kStartTimesField))
        fail(m_path, QStringLiteral("not a settings database: %1 has no field %2")
                         .arg(kStartTimesTable, kStartTimesField));
    if (!hasField(db, kRunTimesTable, kRunTimesField))
        fail(m_path, QStringLiteral("not a settings database: %1 has no field %2")
                         .arg(kRunTimesTable, kRunTimesField));

    QSqlQuery q(db);
    exec(q, QStringLiteral("SELECT rowid FROM %1 ORDER BY rowid LIMIT 1").arg(quoted(kSettingsTable)),
         m_path);
    if (!q.next())
        fail(m_path, QStringLiteral("not a settings database: %1 holds no record").arg(kSettingsTable));
    m_rowid = q.value(0).toLongLong();
}

QString Database::column(const QString& field) const
{
    const auto it = m_columns.constFind(field.toLower());
    if (it == m_columns.constEnd())
        throw Failure(failure::kDatabase,
                      QStringLiteral("Settings database %1: no field %2").arg(m_path, field));
    return *it;
}

QHash<QString, QString> Database::readSettings() const
{
    QSqlDatabase db = m_connection.db();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT * FROM %1 WHERE rowid = ?").arg(quoted(kSettingsTable)));
    q.addBindValue(m_rowid);
    if (!q.exec()) fail(m_path, reasonFor(q.lastError(), m_path));
    if (!q.next()) fail(m_path, QStringLiteral("the settings record is gone"));
    const QSqlRecord rec = q.record();
    QHash<QString, QString> values;
    for (int i = 0; i < rec.count(); ++i)
        values.insert(rec.fieldName(i).toLower(),
                      rec.value(i).isNull() ? QString() : rec.value(i).toString());
    return values;
}

void Database::writeSettings(const FieldValues& values)
{
    if (values.empty()) return;
    QSqlDatabase db = m_connection.db();
    QStringList sets;
    for (const auto& [field, value] : values)
        sets << quoted(column(field)) + QStringLiteral(" = ?");
    if (!db.transaction()) fail(m_path, reasonFor(db.lastError(), m_path));
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                  .arg(quoted(kSettingsTable), sets.join(QStringLiteral(", "))));
    for (const auto& [field, value] : values)
        q.addBindValue(value);
    q.addBindValue(m_rowid);
    if (!q.exec() || q.numRowsAffected() != 1) {
        const QString reason = q.lastError().isValid() ? reasonFor(q.lastError(), m_path)
                                                       : QStringLiteral("the settings record is gone");
        db.rollback();
        fail(m_path, reason);
    }
    if (!db.commit()) {
        const QString reason = reasonFor(db.lastError(), m_path);
        db.rollback();
        fail(m_path, reason);
    }
}

QStringList Database::listValues(const QString& table, const QString& field) const
{
    QSqlDatabase db = m_connection.db();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(quoted(field), quoted(table))))
        fail(m_path, reasonFor(q.lastError(), m_path));
    QStringList out;
    while (q.next())
        out << q.value(0).toString();
    return out;
}

} // namespace kestra::store
