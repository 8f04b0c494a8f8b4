#include "base/tickaim.h"

#include <algorithm>
#include <limits>

namespace kestra {

namespace {
// Division rounding towards minus infinity, so that a clock set before 1970 keeps its grid.
qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}
} // namespace

qint64 TickAim::firstAfter(qint64 wallMs, std::span<const ms> periods) const
{
    qint64 best = std::numeric_limits<qint64>::max();
    for (const ms p : periods) {
        const qint64 step = std::max<qint64>(p.count(), 1);
        const qint64 point = (floorDiv(wallMs - m_lead.count(), step) + 1) * step + m_lead.count();
        best = std::min(best, point);
    }
    return best;
}

bool TickAim::onGrid(qint64 moment, ms period) const
{
    const qint64 step = period.count();
    if (step <= 0) return false;
    const qint64 r = (moment - m_lead.count()) % step;
    return r == 0;
}

TickAim::Shot TickAim::next(qint64 wallMs, qint64 monoMs, std::span<const ms> periods)
{
    bool realigned = true;
    qint64 moment = 0;
    if (m_last) {
        // Where the wall clock would be had it kept pace with the monotonic one.
        const qint64 expected = m_last->wall + (monoMs - m_last->mono);
        const qint64 drift = wallMs - expected;
        if (drift <= kStepTolerance.count() && drift >= -kStepTolerance.count()) {
            realigned = false;
            moment = firstAfter(m_last->moment, periods);
            // Late by more than a grid step (a busy machine): what has passed is not caught up.
            if (moment <= wallMs) moment = firstAfter(wallMs, periods);
        }
    }
    if (realigned) moment = firstAfter(wallMs, periods);
    m_last = Aim{moment, wallMs, monoMs};
    return {moment, ms(moment - wallMs), realigned};
}

} // namespace kestra
