#pragma once

#include "logic/calendar/settings.h"

#include <QByteArray>
#include <vector>

namespace kestra::calendar {

// Bounds on what an imported iCalendar file may hold.
inline constexpr qint64 kMaxIcsBytes = 1024 * 1024;
inline constexpr int kMaxIcsEvents = 500;
inline constexpr int kMaxIcsOccurrences = 30; // of one rule that is not plainly every year
inline constexpr int kMaxIcsYearsAhead = 10;

// The holiday periods of an iCalendar text (all-day and dated VEVENTs, yearly
// RRULEs), each applying `action` to `outputs`. A text that is too large, not
// UTF-8, not iCalendar, or has an event with a bad date, a rule that is not
// yearly or too many events is refused whole: Failure 13 naming the fault.
std::vector<Holiday> importIcs(const QByteArray& text, quint8 outputs, Holiday::Action action,
                               const QDate& today);
// The same from a file (refused before reading when it is too large).
std::vector<Holiday> importIcsFile(const QString& path, quint8 outputs, Holiday::Action action,
                                   const QDate& today);

// Adds imported periods after the settings' own; refused whole (Failure 13)
// when the list would grow past kMaxHolidays.
void addImported(Settings& s, const std::vector<Holiday>& periods);

} // namespace kestra::calendar
