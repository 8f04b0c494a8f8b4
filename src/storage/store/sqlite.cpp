#include "storage/store/sqlite.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <algorithm>
#include <atomic>

namespace kestra::store {

namespace {
// Connection names are one namespace for the whole process, whatever the thread.
std::atomic<int> g_connections{0};
} // namespace

SqliteConnection::SqliteConnection(const QString& purpose, const QString& path, const QString& options)
    : m_name(QStringLiteral("kestra-%1-%2").arg(purpose).arg(++g_connections))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(path);
    if (!options.isEmpty()) db.setConnectOptions(options);
}

SqliteConnection::~SqliteConnection()
{
    release();
}

SqliteConnection::SqliteConnection(SqliteConnection&& other) noexcept : m_name(std::move(other.m_name))
{
    other.m_name.clear();
}

SqliteConnection& SqliteConnection::operator=(SqliteConnection&& other) noexcept
{
    if (this != &other) {
        release();
        m_name = std::move(other.m_name);
        other.m_name.clear();
    }
    return *this;
}

void SqliteConnection::release()
{
    if (m_name.isEmpty()) return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
    m_name.clear();
}

bool SqliteConnection::open()
{
    QSqlDatabase d = db();
    return d.open();
}

QSqlDatabase SqliteConnection::db() const
{
    return QSqlDatabase::database(m_name, false);
}

QSqlError SqliteConnection::lastError() const
{
    return db().lastError();
}

QString errorText(const QSqlError& e)
{
    const QString t = e.text().trimmed();
    return t.isEmpty() ? QStringLiteral("unknown database error") : t;
}

QString errorText(const QSqlQuery& q)
{
    return errorText(q.lastError());
}

int resultCode(const QSqlError& e)
{
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok);
    return ok ? code & 0xFF : 0; // extended codes keep the primary one in their low byte
}

std::optional<int> schemaObjects(const QSqlDatabase& db, QSqlError* error)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) || !q.next()) {
        if (error) *error = q.lastError();
        return std::nullopt;
    }
    return q.value(0).toInt();
}

bool hasTable(const QSqlDatabase& db, const QString& table)
{
    const QStringList tables = db.tables();
    return std::any_of(tables.begin(), tables.end(),
                       [&](const QString& t) { return t.compare(table, Qt::CaseInsensitive) == 0; });
}

bool hasField(const QSqlDatabase& db, const QString& table, const QString& field)
{
    return db.record(table).indexOf(field) >= 0;
}

} // namespace kestra::store
