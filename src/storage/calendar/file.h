#pragma once

#include "logic/calendar/settings.h"

#include <QString>

namespace kestra {
struct BuildConfig;
}

namespace kestra::calendar {

// "Kestra3-calendar.db" beside the settings database: the calendar's settings
// live in a file of their own, so the settings database keeps exactly its tables.
QString calendarPath(const BuildConfig& build);

// The calendar file: one SQLite file with one row of settings, written whole
// in one transaction, so a kill or a full disk leaves the last good settings.
// A damaged file is never overwritten; it is named with what is wrong.
class CalendarFile
{
public:
    explicit CalendarFile(QString path) : m_path(std::move(path)) {}
    const QString& path() const { return m_path; }

    bool exists() const;
    // The stored settings; when there is no file yet, the defaults with a
    // fresh presence seed (stored by the first save). Throws Failure 3051
    // naming the fault for a file that cannot be used.
    Settings load() const;
    // Refuses settings with a fault (Failure 13 naming it) before anything is
    // written; creates the file on first use.
    void save(const Settings& s) const;

private:
    QString m_path;
};

} // namespace kestra::calendar
