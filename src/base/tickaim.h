#pragma once

#include <QtGlobal>
#include <chrono>
#include <optional>
#include <span>

namespace kestra {

// Where the next tick of the program's periodic work falls. Ticks lie on a grid
// of the wall clock, a few milliseconds after each point of their period (for
// 500 ms: at .005 and .505 of every second), so that the tick after a second
// boundary already reads the new second. Every aim starts from the wall clock as
// read now; the monotonic clock only tells whether the wall clock has stepped
// since the last aim (NTP, the user setting it, a resume), in which case the grid
// is found again from the present instead of following on from the moment just
// served. Pure: both clocks are handed in.
class TickAim
{
public:
    using ms = std::chrono::milliseconds;

    // How far after a grid point a tick falls: room for the wall clock read to the
    // millisecond and slewed a little, so the tick never reads the second before.
    static constexpr ms kLead{5};
    // Wall and monotonic clock may drift apart by this much between two aims
    // before it counts as a step of the wall clock.
    static constexpr ms kStepTolerance{20};

    struct Shot
    {
        qint64 moment;  // the grid point aimed at, wall clock in ms since the epoch
        ms delay;       // from now; at least 1 ms
        bool realigned; // aimed from the present: the first aim, or the wall clock stepped
    };

    explicit TickAim(ms lead = kLead) : m_lead(lead) {}

    // The next moment for timers of these periods (none empty, each > 0), read at
    // wallMs (ms since the epoch) and monoMs (any monotonic ms count). Called at
    // the moment last aimed at, it gives the following grid point; a moment that
    // is already past is skipped.
    Shot next(qint64 wallMs, qint64 monoMs, std::span<const ms> periods);
    // Forget the last aim: the next one starts from the present.
    void reset() { m_last.reset(); }

    // The first grid point of any of `periods` strictly after wallMs.
    qint64 firstAfter(qint64 wallMs, std::span<const ms> periods) const;
    // Whether `moment` is a point of the grid of `period`.
    bool onGrid(qint64 moment, ms period) const;

private:
    struct Aim
    {
        qint64 moment;
        qint64 wall;
        qint64 mono;
    };
    ms m_lead;
    std::optional<Aim> m_last;
};

} // namespace kestra
