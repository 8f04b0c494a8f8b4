#pragma once

#include "logic/history/hours.h"
#include "logic/history/rows.h"

#include <QDate>
#include <array>

namespace kestra::history {

// The rows of the dates from `first` to `last` (whole local days), newest
// first, at most `limit`, read from the history file at `path`: what the
// history window lists and its CSV holds. Throws Failure when the file cannot be read.
QList<Row> rowsOfDays(const QString& path, const QDate& first, const QDate& last, Show show, int limit);

// One local day of the outputs as the history file tells it, up to `now`.
struct DayOfOutputs
{
    qint64 from = 0, to = 0; // the day's bounds, ms since the epoch
    qint64 knownFrom = 0;    // nothing is known before this: the history began later
    std::array<QList<Stretch>, 8> on;
};
// Throws Failure when the file cannot be read.
DayOfOutputs outputsOfDay(const QString& path, const QDate& day, qint64 now);

} // namespace kestra::history
