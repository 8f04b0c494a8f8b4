#pragma once

#include <QString>
#include <QtGlobal>
#include <utility>
#include <vector>

namespace kestra::week {

// Pulse mode as it stands: the phase running now and when it ends, then
// phases of the lengths selected now. Moments are ms since the epoch.
struct PulsePlan
{
    bool on = true;
    qint64 phaseEnd = 0;
    bool endless = false; // the running phase never ends by itself
    qint64 onMs = 1000;
    qint64 offMs = 1000;

    bool operator==(const PulsePlan&) const = default;

    struct Phase
    {
        bool on;
        qint64 end;
    };
    // The phase at moment `t`, supposing the selections stay as they are.
    Phase phaseAt(qint64 t) const;
    // Whether `later`, read afterwards, tells the same course within
    // `tolerance` ms. A pulse drifts by the latency of its timer at every
    // phase; the picture is redrawn only when that adds up.
    bool sameCourse(const PulsePlan& later, qint64 tolerance) const;
    // The ON phases that overlap [from, to), clipped to it.
    std::vector<std::pair<qint64, qint64>> onPhases(qint64 from, qint64 to) const;
    // "pulsing 1 s ON, 0.5 s OFF", "pulsing 5 min ON, 10 min OFF"
    QString describe() const;
};

// Channel 1: one timer per phase, `left` ms to run; each phase lasts what is
// selected when it begins.
PulsePlan secondsPulse(bool on, qint64 left, qint64 onMs, qint64 offMs, qint64 now);
// Channel 2: minute ticks counted in the running phase, the next one `tickLeft`
// ms away. The phase ends at the tick whose count equals the selection; when
// the selection is not above the count it never ends.
PulsePlan minutesPulse(bool on, qint64 tickLeft, int counted, int onMinutes, int offMinutes, qint64 now);

} // namespace kestra::week
