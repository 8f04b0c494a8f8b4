#pragma once

#include "logic/history/hours.h"
#include "logic/history/record.h"

#include <QList>
#include <QString>

namespace kestra::history {


// What the history window lists: one row per output or input that changed.
struct Row
{
    qint64 ms = 0;
    QString line;  // "Output 3", "Input 1"
    QString state; // "ON", "OFF"
    QString cause; // outputs only
    int byte = -1; // the port byte after the write; -1 for inputs
    bool operator==(const Row&) const = default;
};

// Which lines to list: all (both 0), one output, or one input.
struct Show
{
    int output = 0;
    int input = 0;
};

// Rows of records given newest first, newest first, at most `limit`. Within one
// write the outputs come in their order.
QList<Row> rowsOf(const QList<PortRecord>& ports, const QList<InputRecord>& inputs, Show show, int limit);

// Local time to the millisecond: "2026-12-07 12:00:01.250".
QString timeText(qint64 ms);

// A header line and one line per row, for spreadsheets: time, ms, line, state, cause, byte.
QString csvOf(const QList<Row>& rows);

// The tooltip lines of one output's operating hours.
QString hoursText(int output, const Hours& hours);

} // namespace kestra::history
