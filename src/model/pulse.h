#pragma once

#include "base/state.h"
#include "logic/week/pulseplan.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

namespace kestra::model {

// Pulse mode of channels 1 and 2: the state alternates between ON and OFF for
// times chosen in two lists, while the channel's own evaluation (Timer1)
// rests. Channel 1 counts seconds with one one-shot timer per phase; channel 2
// counts one-minute ticks in its two counters (PSTART / PSTOP). There is no
// pulse flag: the state is which of Timer1 and the two phase timers runs, so
// nothing can disagree.
class Pulse : public QObject
{
    Q_OBJECT
public:
    // `tickTimer` is the channel's evaluation timer; `publish` writes its state.
    Pulse(int channel, QTimer& tickTimer, std::function<void(State)> publish, QObject* parent = nullptr);

    bool inSeconds() const { return m_channel == 1; }
    bool isPulsing() const { return m_onTimer.isActive() || m_offTimer.isActive(); }
    // While pulsing: whether the running phase is the ON phase.
    bool inOnPhase() const { return m_onTimer.isActive(); }

    // The entries of the two lists, in their order.
    QStringList onEntries() const;
    QStringList offEntries() const;
    const QString& onSelection() const { return m_onSelection; }
    const QString& offSelection() const { return m_offSelection; }
    // Selects an entry of one list; an entry the list does not have is ignored.
    void select(bool onList, const QString& entry);

    // Channel 2's minute counters, bound to PLSESTRT / PLSESTP; "0" on channel 1.
    const QString& startCounter() const { return m_pstart; }
    const QString& stopCounter() const { return m_pstop; }
    void setCounters(const QString& start, const QString& stop);

    // Back to the load state: both lists on "1", phase timers stopped.
    void reset();
    // Stops both phase timers without touching Timer1 or the state (program end).
    void halt();

    void start(); // PULSE / PLSEON
    void stop();  // PLSEOFF
    // A tick of the ON-phase timer: the end of the ON phase (channel 1) or one
    // more minute of it (channel 2). Likewise for the OFF phase.
    void onPhaseTick();
    void offPhaseTick();

    // The pulse as it stands at `now` (ms since the epoch), for the week; nothing when not pulsing.
    std::optional<week::PulsePlan> plan(qint64 now) const;

    QTimer& onTimer() { return m_onTimer; }
    QTimer& offTimer() { return m_offTimer; }

    // A list entry in seconds as a timer interval: ".5" is 500 ms, "59.5" 59500 ms.
    static std::optional<std::chrono::milliseconds> secondsToInterval(const QString& text);

signals:
    // A phase began or ended, a selection or a counter changed.
    void changed();

private:
    void beginPhase(bool on);
    void startPhaseTimer(QTimer& timer);
    std::chrono::milliseconds interval(const QString& entry) const;
    // One more minute in `counter`; true when it now equals `selection`.
    static bool countMinute(QString& counter, const QString& selection);

    int m_channel;
    QTimer& m_tickTimer;
    std::function<void(State)> m_publish;
    QString m_onSelection;
    QString m_offSelection;
    QString m_pstart = QStringLiteral("0");
    QString m_pstop = QStringLiteral("0");
    QTimer m_onTimer;
    QTimer m_offTimer;
    // When the running phase timer fires next.
    QDeadlineTimer m_due;
};

} // namespace kestra::model
