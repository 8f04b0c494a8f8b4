#pragma once

#include "logic/history/rows.h"

#include <QDate>

namespace kestra::history {

// The rows of the dates from `first` to `last` (whole local days), newest
// first, at most `limit`, read from the history file at `path`: what the
// history window lists and its CSV holds. Throws Failure when the file cannot be read.
QList<Row> rowsOfDays(const QString& path, const QDate& first, const QDate& last, Show show, int limit);

} // namespace kestra::history
