#include "base/clock.h"

namespace kestra {

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTime();
}

qint64 SystemClock::msecsSinceEpoch() const
{
    return QDateTime::currentMSecsSinceEpoch();
}

FakeClock::FakeClock(QDateTime start) : m_now(start.isValid() ? start : QDateTime::currentDateTime()) {}

int weekdayNumber(const QDate& date)
{
    return date.dayOfWeek() % 7 + 1; // Qt: Monday 1 .. Sunday 7
}

int secondsOfDay(const QDateTime& t)
{
    return t.time().msecsSinceStartOfDay() / 1000;
}

} // namespace kestra
