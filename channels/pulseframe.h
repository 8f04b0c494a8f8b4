#pragma once

#include <QGroupBox>
#include <chrono>
#include <optional>

class QLineEdit;
class QListWidget;
class QTimer;

namespace kestra::channels {

// Pulse mode of channels 1 and 2: the status alternates between "ON" and "OFF"
// for times chosen in two lists, while the window's own evaluation (Timer1)
// rests. Channel 1 counts seconds with one one-shot timer per phase; channel 2
// counts one-minute ticks in PSTART / PSTOP. There is no pulse flag: the state
// is which of Timer1 and the two phase timers runs, so nothing can disagree.
class PulseFrame : public QGroupBox
{
    Q_OBJECT
public:
    // `timer1` is the window's evaluation timer, `status` its Status<m> field.
    PulseFrame(int channel, QTimer* timer1, QLineEdit* status, QWidget* parent);

    bool inSeconds() const { return m_channel == 1; }
    bool isPulsing() const;

    QListWidget* onList() const { return m_onList; }
    QListWidget* offList() const { return m_offList; }
    // Channel 2's minute counters (bound to PLSESTRT / PLSESTP); null on channel 1.
    QLineEdit* startCounter() const { return m_pstart; }
    QLineEdit* stopCounter() const { return m_pstop; }
    QTimer* onTimer() const { return m_onTimer; }
    QTimer* offTimer() const { return m_offTimer; }

    // Back to the load state: both lists on "1", phase timers stopped.
    void reset();
    // Stops both phase timers without touching Timer1 or the status (program end).
    void halt();

    // A list entry in seconds as a timer interval: ".5" is 500 ms, "59.5" 59500 ms.
    static std::optional<std::chrono::milliseconds> secondsToInterval(const QString& text);
    // The text of the list's selected entry.
    static QString selected(const QListWidget* list);

public slots:
    void start(); // PULSE / PLSEON
    void stop();  // PLSEOFF
    // A tick of the ON-phase timer: the end of the ON phase (channel 1) or one
    // more minute of it (channel 2). Likewise for the OFF phase.
    void onPhaseTick();
    void offPhaseTick();

private:
    void beginPhase(bool on);
    std::chrono::milliseconds selectedInterval(const QListWidget* list) const;
    // One more minute in `counter`; true when it now equals the selection of `list`.
    static bool countMinute(QLineEdit* counter, const QListWidget* list);

    int m_channel;
    QTimer* m_timer1;
    QLineEdit* m_status;
    QListWidget* m_onList;
    QListWidget* m_offList;
    QLineEdit* m_pstart = nullptr;
    QLineEdit* m_pstop = nullptr;
    QTimer* m_onTimer;
    QTimer* m_offTimer;
};

} // namespace kestra::channels
