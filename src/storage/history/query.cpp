#include "storage/history/query.h"

#include "storage/history/historyfile.h"

#include <QDateTime>

namespace kestra::history {

QList<Row> rowsOfDays(const QString& path, const QDate& first, const QDate& last, Show show, int limit)
{
    const qint64 from = QDateTime(first, QTime(0, 0)).toMSecsSinceEpoch();
    const qint64 to = QDateTime(last.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
    const auto file = HistoryFile::open(path, HistoryFile::Access::Read);
    const QList<PortRecord> ports = show.input ? QList<PortRecord>{} : file->portRecords(from, to, show.output, limit);
    const QList<InputRecord> inputs = show.output ? QList<InputRecord>{} : file->inputRecords(from, to, show.input, limit);
    return rowsOf(ports, inputs, show, limit);
}

} // namespace kestra::history
