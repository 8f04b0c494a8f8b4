#include "storage/calendar/file.h"

#include "base/buildconfig.h"
#include "base/failure.h"
#include "storage/store/sqlite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>

namespace kestra::calendar {

namespace {
constexpr int kVersion = 1;

[[noreturn]] void fail(const QString& path, const QString& reason)
{
    throw Failure(failure::kDatabase, QStringLiteral("Calendar file %1: %2").arg(path, reason));
}

QString reasonFor(const QSqlError& e)
{
    switch (store::resultCode(e)) {
    case 5:
    case 6:
        return QStringLiteral("in use by another program (%1)").arg(store::errorText(e));
    case 8:
    case 10:
    case 13:
    case 14:
        return QStringLiteral(
                   "a disk problem (%1): the file and its journal must be writable, on a disk with room")
            .arg(store::errorText(e));
    default:
        return store::errorText(e);
    }
}

// Opens the file and checks that it is the calendar's; `create` makes the table in a new file.
store::SqliteConnection openChecked(const QString& path, bool create, bool* empty = nullptr)
{
    store::SqliteConnection c(QStringLiteral("calendar"), path, QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    if (!c.open()) fail(path, reasonFor(c.lastError()));
    QSqlDatabase db = c.db();
    QSqlError error;
    const std::optional<int> objects = store::schemaObjects(db, &error);
    if (!objects) fail(path, QStringLiteral("damaged or not a calendar file (%1)").arg(reasonFor(error)));
    QSqlQuery q(db);
    if (*objects == 0 && create) {
        if (!q.exec(QStringLiteral("CREATE TABLE calendar (id INTEGER PRIMARY KEY CHECK (id = 1), "
                                   "settings TEXT NOT NULL)")) ||
            !q.exec(QStringLiteral("PRAGMA user_version=%1").arg(kVersion)))
            fail(path, reasonFor(q.lastError()));
        return c;
    }
    // A first save killed before its table was made left an empty file: nothing was stored.
    if (empty) *empty = *objects == 0;
    if (*objects == 0 && !create) return c;
    if (!store::hasTable(db, QStringLiteral("calendar")))
        fail(path, QStringLiteral("not a calendar file: table calendar is missing"));
    if (!q.exec(QStringLiteral("PRAGMA quick_check")) || !q.next())
        fail(path, QStringLiteral("damaged (%1)").arg(reasonFor(q.lastError())));
    if (q.value(0).toString() != QLatin1String("ok"))
        fail(path, QStringLiteral("damaged (%1)").arg(q.value(0).toString()));
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) fail(path, reasonFor(q.lastError()));
    if (q.value(0).toInt() > kVersion)
        fail(path, QStringLiteral("written by a newer program (version %1)").arg(q.value(0).toInt()));
    return c;
}
} // namespace

QString calendarPath(const BuildConfig& build)
{
    QString path = build.databasePath();
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return path.left(dot) + QStringLiteral("-calendar.db");
}

bool CalendarFile::exists() const
{
    return QFileInfo::exists(m_path);
}

Settings CalendarFile::load() const
{
    if (!exists()) {
        Settings s;
        s.seed = QRandomGenerator::system()->generate64();
        return s;
    }
    bool empty = false;
    store::SqliteConnection c = openChecked(m_path, false, &empty);
    QSqlQuery q(c.db());
    if (!empty && !q.exec(QStringLiteral("SELECT settings FROM calendar WHERE id = 1")))
        fail(m_path, reasonFor(q.lastError()));
    if (empty || !q.next()) {
        q.finish();
        Settings s;
        s.seed = QRandomGenerator::system()->generate64();
        return s;
    }
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(q.value(0).toString().toUtf8(), &pe);
    q.finish();
    if (!doc.isObject())
        fail(m_path, QStringLiteral("damaged: the settings do not read (%1)").arg(pe.errorString()));
    try {
        return fromJson(doc.object());
    } catch (const Failure& f) {
        fail(m_path, QStringLiteral("damaged: %1").arg(f.description));
    }
}

void CalendarFile::save(const Settings& s) const
{
    const QString f = fault(s);
    if (!f.isEmpty()) throw Failure(failure::kConversion, f);
    const bool created = !exists();
    // The program directory is made at the program's start; `ctl` may come first.
    const QFileInfo where(m_path);
    if (!where.dir().exists()) {
        if (!QDir().mkpath(where.absolutePath()))
            fail(m_path, QStringLiteral("its directory cannot be made"));
        QFile::setPermissions(where.absolutePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    {
        store::SqliteConnection c = openChecked(m_path, true);
        QSqlDatabase db = c.db();
        QSqlQuery q(db);
        if (!db.transaction()) fail(m_path, reasonFor(db.lastError()));
        q.prepare(QStringLiteral("INSERT OR REPLACE INTO calendar (id, settings) VALUES (1, ?)"));
        q.addBindValue(QString::fromUtf8(QJsonDocument(toJson(s)).toJson(QJsonDocument::Compact)));
        if (!q.exec()) {
            const QString reason = reasonFor(q.lastError());
            q.finish();
            db.rollback();
            fail(m_path, reason);
        }
        q.finish();
        if (!db.commit()) {
            const QString reason = reasonFor(db.lastError());
            db.rollback();
            fail(m_path, reason);
        }
    }
    if (created) QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace kestra::calendar
