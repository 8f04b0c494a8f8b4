#include "model/pulse.h"

#include <QLocale>
#include <cmath>

namespace kestra::model {

using namespace std::chrono_literals;

namespace {
constexpr auto kMinute = 60s;
const QString kFirstEntry = QStringLiteral("1");

QStringList numbers(int from, int to)
{
    QStringList out;
    for (int i = from; i <= to; ++i)
        out << QString::number(i);
    return out;
}

void makePhaseTimer(QTimer& t, const QString& name, bool oneShot)
{
    t.setObjectName(name);
    // A phase length is a promise to the user; a coarse timer may be 5 % off.
    t.setTimerType(Qt::PreciseTimer);
    t.setSingleShot(oneShot);
    if (!oneShot) t.setInterval(kMinute);
}
} // namespace

Pulse::Pulse(int channel, QTimer& tickTimer, std::function<void(State)> publish, QObject* parent)
    : QObject(parent), m_channel(channel), m_tickTimer(tickTimer), m_publish(std::move(publish))
{
    setObjectName(QStringLiteral("Pulse%1").arg(channel));
    makePhaseTimer(m_onTimer, QStringLiteral("PulseOnTimer"), inSeconds());
    makePhaseTimer(m_offTimer, QStringLiteral("PulseOffTimer"), inSeconds());
    m_onTimer.setParent(this);
    m_offTimer.setParent(this);
    connect(&m_onTimer, &QTimer::timeout, this, &Pulse::onPhaseTick);
    connect(&m_offTimer, &QTimer::timeout, this, &Pulse::offPhaseTick);
    reset();
}

QStringList Pulse::onEntries() const
{
    // Channel 1 offers half a second only as an ON time.
    QStringList out = numbers(1, 60);
    if (inSeconds()) out << QStringLiteral(".5");
    return out;
}

QStringList Pulse::offEntries() const
{
    // ... and 59.5 s only as an OFF time.
    if (inSeconds()) return numbers(1, 59) << QStringLiteral("59.5") << QStringLiteral("60");
    return numbers(1, 60);
}

void Pulse::select(bool onList, const QString& entry)
{
    if (!(onList ? onEntries() : offEntries()).contains(entry)) return;
    QString& selection = onList ? m_onSelection : m_offSelection;
    if (selection == entry) return;
    selection = entry;
    emit changed();
}

void Pulse::setCounters(const QString& start, const QString& stop)
{
    m_pstart = start;
    m_pstop = stop;
    emit changed();
}

void Pulse::reset()
{
    halt();
    m_onSelection = kFirstEntry;
    m_offSelection = kFirstEntry;
    emit changed();
}

void Pulse::halt()
{
    m_onTimer.stop();
    m_offTimer.stop();
}

std::optional<std::chrono::milliseconds> Pulse::secondsToInterval(const QString& text)
{
    bool ok = false;
    const double seconds = QLocale::c().toDouble(text, &ok);
    if (!ok || !(seconds > 0) || seconds > 3600) return std::nullopt;
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

std::chrono::milliseconds Pulse::interval(const QString& entry) const
{
    // The lists hold numbers only, so this always converts.
    return secondsToInterval(entry).value_or(1000ms);
}

void Pulse::startPhaseTimer(QTimer& timer)
{
    timer.start();
    m_due = QDeadlineTimer(timer.intervalAsDuration());
}

void Pulse::start()
{
    m_tickTimer.stop();
    m_offTimer.stop();
    if (inSeconds()) {
        m_onTimer.setInterval(interval(m_onSelection));
        startPhaseTimer(m_onTimer);
        m_publish(State::On);
    } else {
        startPhaseTimer(m_onTimer);
        m_publish(State::On);
        m_pstart = m_pstop = QStringLiteral("0");
    }
    emit changed();
}

void Pulse::stop()
{
    if (inSeconds()) {
        // The state keeps its last pulse value until Timer1's next tick.
        m_tickTimer.start();
        halt();
    } else {
        halt();
        m_tickTimer.start();
        m_publish(State::Off);
    }
    emit changed();
}

void Pulse::beginPhase(bool on)
{
    QTimer& next = on ? m_onTimer : m_offTimer;
    QTimer& ending = on ? m_offTimer : m_onTimer;
    m_publish(stateOf(on));
    ending.stop();
    // Each phase lasts what is selected when it begins, counted from this tick.
    next.setInterval(interval(on ? m_onSelection : m_offSelection));
    startPhaseTimer(next);
}

bool Pulse::countMinute(QString& counter, const QString& selection)
{
    // A counter that is not a number (only a re-read of a hand-made record can
    // bring one) counts as 0, and the phase goes on from there.
    bool ok = false;
    const int before = counter.trimmed().toInt(&ok);
    const int now = (ok ? before : 0) + 1;
    counter = QString::number(now);
    bool selOk = false;
    const int wanted = selection.toInt(&selOk);
    return selOk && wanted == now;
}

void Pulse::onPhaseTick()
{
    if (inSeconds()) {
        beginPhase(false);
    } else {
        m_due = QDeadlineTimer(kMinute);
        if (countMinute(m_pstart, m_onSelection)) {
            m_publish(State::Off);
            startPhaseTimer(m_offTimer);
            m_onTimer.stop();
            m_pstop = QStringLiteral("0");
        }
    }
    emit changed();
}

void Pulse::offPhaseTick()
{
    if (inSeconds()) {
        beginPhase(true);
    } else {
        m_due = QDeadlineTimer(kMinute);
        if (countMinute(m_pstop, m_offSelection)) {
            m_publish(State::On);
            startPhaseTimer(m_onTimer);
            m_offTimer.stop();
            m_pstart = QStringLiteral("0");
        }
    }
    emit changed();
}

std::optional<week::PulsePlan> Pulse::plan(qint64 now) const
{
    if (!isPulsing()) return std::nullopt;
    const bool on = inOnPhase();
    const qint64 left = std::max<qint64>(0, m_due.remainingTime());
    if (inSeconds())
        return week::secondsPulse(on, left, interval(m_onSelection).count(), interval(m_offSelection).count(),
                                  now);
    // A counter that is not a number counts as 0, as the minute tick takes it.
    const int counted = (on ? m_pstart : m_pstop).trimmed().toInt();
    return week::minutesPulse(on, left, counted, m_onSelection.toInt(), m_offSelection.toInt(), now);
}

} // namespace kestra::model
