#pragma once

#include "logic/week/weekmodel.h"

#include <QString>
#include <vector>

namespace kestra::week {

// The week as a CSV table (RFC 4180, one line per ON period), outputs in
// order and each output's periods in the order of the days shown, starting
// with `firstDay` (0 Sunday). Columns: Output, Location, State, From, To
// (both seconds ON), Note. A day that loses a switching to the calendar (a
// missing sunrise or sunset, a switching moved off its date) follows the
// output's ON periods as a line of its own: state "switching lost", the day's
// first and last second, and why in the note.
QString weekCsv(const std::vector<ChannelPicture>& pictures, int firstDay);

} // namespace kestra::week
