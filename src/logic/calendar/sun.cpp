#include "logic/calendar/sun.h"

#include <QLocale>
#include <QMutex>
#include <cmath>
#include <libnova/julian_day.h>
#include <libnova/ln_types.h>
#include <libnova/precession.h>
#include <libnova/rise_set.h>
#include <libnova/solar.h>
#include <libnova/transform.h>
#include <map>
#include <tuple>

namespace kestra::calendar {

namespace {
constexpr double kUnixEpochJd = 2440587.5;

// libnova's solar position is referred to the equinox of J2000, while its
// rise and set take the sidereal time of the date: left as it is, every
// rise and set drifts by the precession since 2000 (about 90 s in 2026,
// measured against the NOAA equations). Precessed to the date, they agree
// within seconds.
void sunOfDate(double jd, ln_equ_posn* position)
{
    ln_equ_posn j2000{};
    ln_get_solar_equ_coords(jd, &j2000);
    ln_get_equ_prec(&j2000, jd, position);
}

double altitude(double jd, ln_lnlat_posn* observer)
{
    ln_equ_posn sun{};
    sunOfDate(jd, &sun);
    ln_hrz_posn h{};
    ln_get_hrz_from_equ(&sun, observer, jd, &h);
    return h.alt;
}

// libnova's rise and set interpolate the sun's motion over the day, which
// lands up to a minute and a half off for a horizon deep below (astronomical
// twilight). A few Newton steps on the altitude itself, from libnova's own
// positions, settle the moment where the sun crosses the horizon.
qint64 secondsOf(double jd, ln_lnlat_posn* observer, double horizon)
{
    constexpr double kStep = 60.0 / 86400.0;
    for (int i = 0; i < 3; ++i) {
        const double h = altitude(jd, observer);
        const double rate = (altitude(jd + kStep, observer) - h) / kStep;
        if (std::abs(rate) < 1e-3) break; // grazing the horizon: keep what we have
        const double step = (h - horizon) / rate;
        if (std::abs(step) > 0.01) break; // more than a quarter hour: not this crossing
        jd -= step;
        if (std::abs(step) < 0.5 / 86400.0) break;
    }
    return qint64(std::llround((jd - kUnixEpochJd) * 86400.0));
}
} // namespace

namespace {
// The ticks ask for the same day over and over: the last days asked are kept.
struct SunKey
{
    double latitude, longitude;
    Twilight twilight;
    qint64 day;
    QByteArray zone;
    bool operator<(const SunKey& o) const
    {
        return std::tie(latitude, longitude, twilight, day, zone) <
               std::tie(o.latitude, o.longitude, o.twilight, o.day, o.zone);
    }
};
constexpr size_t kCachedDays = 256;
} // namespace

SunDay sunDay(const Place& place, Twilight twilight, const QDate& date, const QTimeZone& zone)
{
    static QMutex mutex;
    static std::map<SunKey, SunDay> cache;
    const SunKey key{place.latitude, place.longitude, twilight, date.toJulianDay(), zone.id()};
    {
        const QMutexLocker lock(&mutex);
        if (const auto it = cache.find(key); it != cache.end()) return it->second;
    }
    const SunDay day = computeSunDay(place, twilight, date, zone);
    const QMutexLocker lock(&mutex);
    if (cache.size() >= kCachedDays) cache.clear();
    cache.emplace(key, day);
    return day;
}

SunDay computeSunDay(const Place& place, Twilight twilight, const QDate& date, const QTimeZone& zone)
{
    SunDay day;
    const QTimeZone z = zone.isValid() ? zone : QTimeZone::utc();
    // libnova answers for the UT day of the Julian day it is given; the local
    // date's events may belong to the UT day before or after, so ask all three.
    const qint64 noon = QDateTime(date, QTime(12, 0), z).toSecsSinceEpoch();
    // Its sidereal time and interpolation assume 0h UT of that day (a Julian day ending in .5).
    const double jdNoon = std::floor(kUnixEpochJd + double(noon) / 86400.0 - 0.5) + 0.5;
    ln_lnlat_posn observer{place.longitude, place.latitude};
    bool up = false, down = false;
    for (int d : {-1, 0, 1}) {
        ln_rst_time rst{};
        const int r = ln_get_body_rst_horizon(jdNoon + d, &observer, sunOfDate, horizonOf(twilight), &rst);
        if (r != 0) {
            (r > 0 ? up : down) |= d == 0;
            continue;
        }
        const qint64 rise = secondsOf(rst.rise, &observer, horizonOf(twilight));
        const qint64 set = secondsOf(rst.set, &observer, horizonOf(twilight));
        if (QDateTime::fromSecsSinceEpoch(rise, z).date() == date && (!day.rise || rise < *day.rise))
            day.rise = rise;
        if (QDateTime::fromSecsSinceEpoch(set, z).date() == date && (!day.set || set > *day.set))
            day.set = set;
    }
    const SunDay::Missing why = up     ? SunDay::Missing::MidnightSun
                                : down ? SunDay::Missing::PolarNight
                                       : SunDay::Missing::OtherDay;
    if (!day.rise) day.noRise = why;
    if (!day.set) day.noSet = why;
    return day;
}

QString missingText(bool sunrise, SunDay::Missing why, const QDate& date)
{
    const QString reason = why == SunDay::Missing::MidnightSun  ? QStringLiteral("midnight sun")
                           : why == SunDay::Missing::PolarNight ? QStringLiteral("polar night")
                           : sunrise                            ? QStringLiteral("it rises after midnight")
                                                                : QStringLiteral("it sets after midnight");
    return QStringLiteral("no %1 on %2 (%3)")
        .arg(sunrise ? QStringLiteral("sunrise") : QStringLiteral("sunset"),
             QLocale::c().toString(date, QStringLiteral("d MMM")), reason);
}

} // namespace kestra::calendar
