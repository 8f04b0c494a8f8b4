#pragma once

#include "base/tickaim.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProperty>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kestra {

class Clock;

// One wake-up for each moment of the program's periodic work, on the wall-clock
// grid of TickAim: the inputs cycle, the eight channel evaluations, the main scan
// and the logo all run in it, in that order, so a new channel state reaches the
// port in the wake-up that reads the new second.
//
// Every window keeps its own timer (Timer1 and the like) with its period as
// interval and its own on/off: a timer that is stopped is left alone, one that is
// started joins the grid at its next point. While served, a member's timer is
// restarted at each of its moments, so its own timeout always lies just past its
// next moment and never wakes the program by itself; should it come first
// anyway, it stands in for that moment.
class Ticker : public QObject
{
    Q_OBJECT
public:
    // The order within one moment: fresh inputs for the channels, channel states for the scan.
    enum class Rank { Inputs, Channels, Scan, Display };

    explicit Ticker(const Clock& wall, QObject* parent = nullptr);
    ~Ticker() override;

    // From now on `tick` runs at the points of `timer`'s interval on the grid
    // while `timer` is active. The timer becomes a precise one.
    void attach(QTimer* timer, Rank rank, std::function<void()> tick);

    // Moments served and how many of their aims found the wall clock stepped.
    quint64 moments() const { return m_moments; }
    quint64 realignments() const { return m_realignments; }

private:
    struct Member
    {
        QPointer<QTimer> timer;
        Rank rank;
        std::function<void()> tick;
        QPropertyNotifier activeChanged;
        quint64 servedIn = 0;
    };

    void memberFired(QTimer* timer);
    void driverFired();
    void serveMoment(qint64 mono);
    // Aims at the next moment of the running members and arms the driver; stops it when none runs.
    void aim(qint64 mono);
    void runAlone(QTimer* timer);
    void dropDeadMembers();

    const Clock& m_wall;
    QElapsedTimer m_mono;
    TickAim m_aim;
    QTimer m_driver;
    // The moment the driver is armed for (wall ms), and when it is due (monotonic ms).
    std::optional<qint64> m_moment;
    qint64 m_due = 0;
    std::vector<std::unique_ptr<Member>> m_members;
    int m_depth = 0;
    quint64 m_moments = 0;
    quint64 m_realignments = 0;
};

} // namespace kestra
