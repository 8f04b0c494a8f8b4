#include "logic/week/pulseplan.h"

#include <QLocale>
#include <algorithm>

namespace kestra::week {

namespace {
constexpr qint64 kMinuteMs = 60'000;

QString duration(qint64 ms)
{
    if (ms % kMinuteMs == 0) return QStringLiteral("%1 min").arg(ms / kMinuteMs);
    return QStringLiteral("%1 s").arg(QLocale::c().toString(double(ms) / 1000.0, 'g', 6));
}
} // namespace

PulsePlan::Phase PulsePlan::phaseAt(qint64 t) const
{
    if (endless || t < phaseEnd || onMs + offMs <= 0) return {on, phaseEnd};
    const qint64 first = on ? offMs : onMs; // the phase after the running one
    const qint64 k = (t - phaseEnd) % (onMs + offMs);
    if (k < first) return {!on, t - k + first};
    return {on, t - k + onMs + offMs};
}

bool PulsePlan::sameCourse(const PulsePlan& later, qint64 tolerance) const
{
    if (later.onMs != onMs || later.offMs != offMs || later.endless != endless) return false;
    if (endless) return later.on == on;
    // Just before the later plan's phase end, this plan must be in the same
    // phase and end it within the tolerance.
    const Phase p = phaseAt(later.phaseEnd - tolerance);
    return p.on == later.on && std::abs(p.end - later.phaseEnd) <= tolerance;
}

std::vector<std::pair<qint64, qint64>> PulsePlan::onPhases(qint64 from, qint64 to) const
{
    std::vector<std::pair<qint64, qint64>> out;
    qint64 t = from;
    while (t < to) {
        const Phase p = phaseAt(t);
        const qint64 end = endless ? to : std::min(p.end, to);
        if (p.on) out.emplace_back(t, end);
        if (end <= t) break;
        t = end;
    }
    return out;
}

QString PulsePlan::describe() const
{
    return QStringLiteral("pulsing %1 ON, %2 OFF").arg(duration(onMs), duration(offMs));
}

PulsePlan secondsPulse(bool on, qint64 left, qint64 onMs, qint64 offMs, qint64 now)
{
    PulsePlan p;
    p.on = on;
    p.phaseEnd = now + std::max<qint64>(left, 0);
    p.onMs = onMs;
    p.offMs = offMs;
    return p;
}

PulsePlan minutesPulse(bool on, qint64 tickLeft, int counted, int onMinutes, int offMinutes, qint64 now)
{
    PulsePlan p;
    p.on = on;
    p.onMs = onMinutes * kMinuteMs;
    p.offMs = offMinutes * kMinuteMs;
    const int wanted = on ? onMinutes : offMinutes;
    p.endless = wanted <= counted;
    p.phaseEnd = now + std::max<qint64>(tickLeft, 0) + qint64(std::max(wanted - counted - 1, 0)) * kMinuteMs;
    return p;
}

} // namespace kestra::week
