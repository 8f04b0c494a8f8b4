#pragma once

#include <QDate>
#include <QStringList>
#include <QTextStream>
#include <QTimeZone>

namespace kestra::calendar {

class CalendarFile;

// `ctl place LAT LON [NAME]` and `ctl sun [DATE] [--json]`: `args` starts with
// the command's name. `switchRunning` says whether a switch (window program
// or service) holds the settings now: then `place` does not write the file
// behind its back. Returns the exit status: 0 done, 1 refused or failed, 2 bad use.
int runCalendarCommand(const QStringList& args, QTextStream& out, QTextStream& err, const CalendarFile& file,
                       bool switchRunning, const QDate& today, const QTimeZone& zone);

} // namespace kestra::calendar
