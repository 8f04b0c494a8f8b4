#pragma once

// An independent reference for sunrise and sunset: the equations of the NOAA
// Solar Calculator (NOAA Global Monitoring Laboratory, after Meeus,
// "Astronomical Algorithms"), written here from those equations and sharing
// no code with libnova. Times are seconds since the epoch (UT).

#include <cmath>
#include <optional>

namespace kestra::noaa {

struct Sun
{
    double declination;    // degrees
    double equationOfTime; // minutes
};

inline Sun sunAt(double unixSeconds)
{
    constexpr double d2r = M_PI / 180.0;
    const double jd = unixSeconds / 86400.0 + 2440587.5;
    const double t = (jd - 2451545.0) / 36525.0;
    const double l0 = std::fmod(280.46646 + t * (36000.76983 + t * 0.0003032), 360.0);
    const double m = 357.52911 + t * (35999.05029 - 0.0001537 * t);
    const double e = 0.016708634 - t * (0.000042037 + 0.0000001267 * t);
    const double c = std::sin(m * d2r) * (1.914602 - t * (0.004817 + 0.000014 * t)) +
                     std::sin(2 * m * d2r) * (0.019993 - 0.000101 * t) + std::sin(3 * m * d2r) * 0.000289;
    const double omega = 125.04 - 1934.136 * t;
    const double lambda = l0 + c - 0.00569 - 0.00478 * std::sin(omega * d2r);
    const double eps0 = 23.0 + (26.0 + (21.448 - t * (46.815 + t * (0.00059 - t * 0.001813))) / 60.0) / 60.0;
    const double eps = eps0 + 0.00256 * std::cos(omega * d2r);
    const double decl = std::asin(std::sin(eps * d2r) * std::sin(lambda * d2r)) / d2r;
    const double y = std::pow(std::tan(eps * d2r / 2), 2);
    const double eot = 4.0 / d2r *
                       (y * std::sin(2 * l0 * d2r) - 2 * e * std::sin(m * d2r) +
                        4 * e * y * std::sin(m * d2r) * std::cos(2 * l0 * d2r) -
                        0.5 * y * y * std::sin(4 * l0 * d2r) - 1.25 * e * e * std::sin(2 * m * d2r));
    return {decl, eot};
}

// The rise (`rising`) or set of the solar day whose local mean noon is
// nearest `nearNoon`, for the sun's centre at `horizon` degrees.
inline std::optional<double> event(double nearNoon, double lat, double lon, double horizon, bool rising)
{
    constexpr double d2r = M_PI / 180.0;
    const double day = std::floor((nearNoon + lon * 240.0) / 86400.0) * 86400.0; // 00:00 UT of that day
    double at = nearNoon;
    for (int i = 0; i < 4; ++i) { // the sun moves during the day: evaluate at the event itself
        const Sun s = sunAt(at);
        const double cosHa =
            std::cos((90.0 - horizon) * d2r) / (std::cos(lat * d2r) * std::cos(s.declination * d2r)) -
            std::tan(lat * d2r) * std::tan(s.declination * d2r);
        if (cosHa < -1 || cosHa > 1) return std::nullopt;
        const double ha = std::acos(cosHa) / d2r;
        const double noonMinutes = 720.0 - 4.0 * lon - s.equationOfTime;
        at = day + (noonMinutes + (rising ? -4.0 : 4.0) * ha) * 60.0;
    }
    return at;
}

} // namespace kestra::noaa
