#include "storage/history/query.h"

#include "storage/history/historyfile.h"

#include <QDateTime>

namespace kestra::history {

namespace {
qint64 startOf(const QDate& d)
{
    return QDateTime(d, QTime(0, 0)).toMSecsSinceEpoch();
}
} // namespace

QList<Row> rowsOfDays(const QString& path, const QDate& first, const QDate& last, Show show, int limit)
{
    const qint64 from = startOf(first);
    const qint64 to = startOf(last.addDays(1));
    const auto file = HistoryFile::open(path, HistoryFile::Access::Read);
    const QList<PortRecord> ports = show.input ? QList<PortRecord>{} : file->portRecords(from, to, show.output, limit);
    const QList<InputRecord> inputs = show.output ? QList<InputRecord>{} : file->inputRecords(from, to, show.input, limit);
    return rowsOf(ports, inputs, show, limit);
}

DayOfOutputs outputsOfDay(const QString& path, const QDate& day, qint64 now)
{
    DayOfOutputs d;
    d.from = startOf(day);
    d.to = startOf(day.addDays(1));
    d.knownFrom = d.to; // nothing known until a record says so
    const auto file = HistoryFile::open(path, HistoryFile::Access::Read);
    const QList<PortRecord> records = file->portRecordsBetween(d.from, d.to);
    const std::optional<quint8> before = file->outputsBefore(d.from);
    if (before)
        d.knownFrom = d.from;
    else if (!records.isEmpty())
        d.knownFrom = records.first().ms;
    for (int m = 1; m <= 8; ++m)
        d.on[size_t(m - 1)] = onStretches(before.value_or(0), records, m, d.knownFrom, qMin(d.to, now));
    return d;
}

} // namespace kestra::history
