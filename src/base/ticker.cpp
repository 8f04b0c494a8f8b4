#include "base/ticker.h"

#include "base/clock.h"

#include <QVarLengthArray>
#include <algorithm>

namespace kestra {

using namespace std::chrono_literals;

namespace {
// A member's own timeout this close before the driver's counts as the same moment:
// less than the lead, so the moment's second has begun.
constexpr auto kSameMoment = TickAim::kLead / 2;
} // namespace

Ticker::Ticker(const Clock& wall, QObject* parent) : QObject(parent), m_wall(wall)
{
    m_mono.start();
    m_driver.setObjectName(QStringLiteral("TickerDriver"));
    m_driver.setTimerType(Qt::PreciseTimer);
    m_driver.setSingleShot(true);
    connect(&m_driver, &QTimer::timeout, this, &Ticker::driverFired);
}

Ticker::~Ticker() = default;

void Ticker::attach(QTimer* timer, Rank rank, std::function<void()> tick)
{
    dropDeadMembers();
    timer->setTimerType(Qt::PreciseTimer);
    auto member = std::make_unique<Member>();
    member->timer = timer;
    member->rank = rank;
    member->tick = std::move(tick);
    // A timer that starts while nothing is aimed at wakes the driver; the aim
    // waits for the end of this event so that timers started together share it.
    member->activeChanged = timer->bindableActive().addNotifier([this, timer] {
        if (timer->isActive() && !m_driver.isActive()) {
            m_moment.reset();
            m_driver.start(0ms);
        }
    });
    connect(timer, &QTimer::timeout, this, [this, timer] { memberFired(timer); });
    // The notifier must leave the timer's property while that still exists.
    connect(timer, &QObject::destroyed, this, [m = member.get()] {
        m->activeChanged = QPropertyNotifier();
        m->tick = nullptr;
    });
    const auto after = std::upper_bound(m_members.begin(), m_members.end(), rank,
                                        [](Rank r, const std::unique_ptr<Member>& m) { return r < m->rank; });
    m_members.insert(after, std::move(member));
    if (timer->isActive() && !m_driver.isActive()) {
        m_moment.reset();
        m_driver.start(0ms);
    }
}

void Ticker::driverFired()
{
    const qint64 mono = m_mono.elapsed();
    if (m_moment)
        serveMoment(mono);
    else
        aim(mono);
}

void Ticker::memberFired(QTimer* timer)
{
    const qint64 mono = m_mono.elapsed();
    if (m_driver.isActive() && m_moment && mono >= m_due - kSameMoment.count()) {
        serveMoment(mono);
        return;
    }
    // Started off the grid and not yet taken in by a moment: it ticks alone this once.
    runAlone(timer);
    if (!m_driver.isActive()) aim(m_mono.elapsed());
}

void Ticker::serveMoment(qint64 mono)
{
    const qint64 moment = *m_moment;
    m_driver.stop();
    QVarLengthArray<Member*, 16> due;
    for (const auto& m : m_members)
        if (m->timer && m->timer->isActive() && m_aim.onGrid(moment, TickAim::ms(m->timer->interval())))
            due.push_back(m.get());
    // Aim first, so that a tick that opens a message box leaves the next moments running.
    aim(mono);
    // Each due timer's own timeout now lies just past its next moment.
    for (Member* m : due)
        m->timer->start();
    const quint64 id = ++m_moments;
    ++m_depth;
    for (Member* m : due) {
        // Stopped meanwhile, or already served by a later moment run inside a message box.
        if (!m->timer || !m->timer->isActive() || m->servedIn > id) continue;
        m->servedIn = id;
        m->tick();
    }
    --m_depth;
}

void Ticker::aim(qint64 mono)
{
    QVarLengthArray<TickAim::ms, 4> periods;
    for (const auto& m : m_members)
        if (m->timer && m->timer->isActive() && m->timer->interval() > 0) {
            const TickAim::ms p(m->timer->interval());
            if (std::find(periods.begin(), periods.end(), p) == periods.end()) periods.push_back(p);
        }
    if (periods.empty()) {
        m_driver.stop();
        m_moment.reset();
        m_aim.reset();
        return;
    }
    const TickAim::Shot shot =
        m_aim.next(m_wall.msecsSinceEpoch(), mono, std::span(periods.data(), std::size_t(periods.size())));
    if (shot.realigned) ++m_realignments;
    m_moment = shot.moment;
    m_due = mono + shot.delay.count();
    m_driver.start(shot.delay);
}

void Ticker::runAlone(QTimer* timer)
{
    for (const auto& m : m_members)
        if (m->timer == timer) {
            ++m_depth;
            m->tick();
            --m_depth;
            return;
        }
}

void Ticker::dropDeadMembers()
{
    if (m_depth > 0) return;
    std::erase_if(m_members, [](const std::unique_ptr<Member>& m) { return m->timer.isNull(); });
}

} // namespace kestra
