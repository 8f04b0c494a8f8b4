#pragma once

#include <QDateTime>

namespace kestra {

// Where the program reads the time. Every tick asks again; nothing counts ticks.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // The same moment as milliseconds since the epoch, for the tick grid that asks
    // several times a second; no time zone needed.
    virtual qint64 msecsSinceEpoch() const { return now().toMSecsSinceEpoch(); }
};

class SystemClock final : public Clock
{
public:
    QDateTime now() const override;
    qint64 msecsSinceEpoch() const override;
};

// A clock that stands still until told otherwise, for tests that need Monday now.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(QDateTime start = {});
    QDateTime now() const override { return m_now; }
    void set(const QDateTime& t) { m_now = t; }
    void advanceSeconds(qint64 s) { m_now = m_now.addSecs(s); }
    void advanceMs(qint64 ms) { m_now = m_now.addMSecs(ms); }

private:
    QDateTime m_now;
};

// 1 Sunday .. 7 Saturday, the numbering the day toggles use.
int weekdayNumber(const QDate& date);

// Whole seconds since local midnight, 0 .. 86399.
int secondsOfDay(const QDateTime& t);

} // namespace kestra
