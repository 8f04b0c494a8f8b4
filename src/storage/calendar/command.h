#pragma once

#include <QDate>
#include <QStringList>
#include <QTextStream>
#include <QTimeZone>
#include <functional>

namespace kestra::calendar {

class CalendarFile;

// What a running switch made of a place handed to it.
struct SwitchAnswer
{
    enum class Outcome {
        NoSwitch,    // none runs: the file is written here
        Stored,      // the switch stored it
        Refused,     // the switch refused it; `text` says why
        Unreachable, // one runs but does not answer; `text` says why
    };
    Outcome outcome = Outcome::NoSwitch;
    QString text;
};
// Hands the texts of `ctl place` to the running switch, if one runs.
using PlaceToSwitch =
    std::function<SwitchAnswer(const QString& latitude, const QString& longitude, const QString& name)>;

// `ctl place LAT LON [NAME]` and `ctl sun [DATE] [--json]`: `args` starts with
// the command's name. A switch that runs (window program or service) holds the
// settings: `place` goes to it through `toSwitch`, and the file is written here
// only when none runs. Returns the exit status: 0 done, 1 refused or failed,
// 2 bad use, 3 a switch runs but cannot be reached.
int runCalendarCommand(const QStringList& args, QTextStream& out, QTextStream& err, const CalendarFile& file,
                       const PlaceToSwitch& toSwitch, const QDate& today, const QTimeZone& zone);

} // namespace kestra::calendar
