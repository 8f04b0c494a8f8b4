#pragma once

#include "logic/calendar/settings.h"

#include <QDate>
#include <QString>
#include <QTimeZone>
#include <optional>

namespace kestra::calendar {

// Sunrise and sunset of one local date at a place, for a twilight.
struct SunDay
{
    enum class Missing { None, MidnightSun, PolarNight, OtherDay };
    std::optional<qint64> rise; // seconds since the epoch
    std::optional<qint64> set;
    Missing noRise = Missing::None;
    Missing noSet = Missing::None;
};

// From libnova, for the local date in `zone`: the first rise and the last set
// whose local date is `date`. A date without one says why: the sun stays up
// (midnight sun) or down (polar night), or the event falls on the date before
// or after.
SunDay sunDay(const Place& place, Twilight twilight, const QDate& date, const QTimeZone& zone);
// The same without the cache of recent days.
SunDay computeSunDay(const Place& place, Twilight twilight, const QDate& date, const QTimeZone& zone);

// "no sunset on 21 Jun (midnight sun)"
QString missingText(bool sunrise, SunDay::Missing why, const QDate& date);

} // namespace kestra::calendar
