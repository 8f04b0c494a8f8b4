#include "views/panel/polarity.h"

#include "base/timetext.h"
#include "storage/store/sqlite.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace kestra::panel {

namespace {
PolarityReading readFrom(store::SqliteConnection& connection)
{
    PolarityReading r;
    if (!connection.open()) {
        r.note = store::errorText(connection.lastError());
        return r;
    }
    QSqlQuery q(connection.db());
    if (!q.exec(QStringLiteral("SELECT * FROM \"SaveSettingsTbl\" LIMIT 1"))) {
        r.note = store::errorText(q);
        return r;
    }
    if (!q.next()) {
        r.note = QStringLiteral("the settings record is missing");
        return r;
    }
    const int field = q.record().indexOf(QStringLiteral("SOURCEPORT"));
    if (field < 0) {
        r.note = QStringLiteral("the field SOURCEPORT is missing");
        return r;
    }
    r.readable = true;
    for (int m = 1; m <= 8; ++m)
        if (const int loc = q.record().indexOf(QStringLiteral("Loc%1").arg(m)); loc >= 0)
            r.locations[m - 1] = q.value(loc).toString();
    const QString text = q.value(field).toString();
    const auto flag = tryParseFlag(text);
    r.fiveVoltsOn = flag.value_or(false);
    if (!flag)
        r.note = QStringLiteral("\"%1\" is not True or False; the program takes it as unchecked").arg(text);
    return r;
}
} // namespace

PolarityReading readPolarity(const QString& databasePath)
{
    if (!QFileInfo(databasePath).isFile())
        return {false, false, QStringLiteral("%1 does not exist yet").arg(databasePath), {}};
    // The program may hold a write lock for a moment; a panel that waited would
    // freeze, so a busy file counts as unreadable and the next poll tries again.
    store::SqliteConnection connection(QStringLiteral("panel-polarity"), databasePath,
                                       QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=0"));
    return readFrom(connection);
}

} // namespace kestra::panel
