#pragma once

#include <QSqlDatabase>
#include <QString>
#include <optional>

class QSqlError;
class QSqlQuery;

namespace kestra::store {

// One named connection of Qt's QSQLITE driver to one file: made with a name of
// its own, closed and removed when it goes. It belongs to the thread that made
// it; every QSqlQuery on it must be gone before it is.
class SqliteConnection
{
public:
    SqliteConnection() = default;
    // Not opened yet. `purpose` goes into the connection's name ("kestra-history-3").
    SqliteConnection(const QString& purpose, const QString& path, const QString& options = QString());
    ~SqliteConnection();
    SqliteConnection(SqliteConnection&& other) noexcept;
    SqliteConnection& operator=(SqliteConnection&& other) noexcept;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // False when the file cannot be opened; lastError() says why.
    bool open();
    QSqlDatabase db() const;
    QSqlError lastError() const;
    const QString& name() const { return m_name; }

private:
    void release();

    QString m_name;
};

// SQLite's text of a failure, in the one form every message uses.
QString errorText(const QSqlError& e);
QString errorText(const QSqlQuery& q);

// SQLite's primary result code of a failure (5 SQLITE_BUSY, 11 SQLITE_CORRUPT ...); 0 when it has none.
int resultCode(const QSqlError& e);

// How many tables, views and indexes the file holds: its first read, so a file
// that is not SQLite at all gives nothing (and *error says why).
std::optional<int> schemaObjects(const QSqlDatabase& db, QSqlError* error = nullptr);

// Whether the table exists, and whether it has the field; names in any case, as SQL takes them.
bool hasTable(const QSqlDatabase& db, const QString& table);
bool hasField(const QSqlDatabase& db, const QString& table, const QString& field);

} // namespace kestra::store
