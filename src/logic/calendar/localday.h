#pragma once

#include <QDate>
#include <QTimeZone>
#include <memory>
#include <vector>

namespace kestra::calendar {

// One local date as the wall clock of a time zone runs through it: which
// moments (seconds since the epoch) show which wall time. A wall time the
// clock skips becomes the first second after the gap; one it shows twice
// becomes its first showing.
class LocalDay
{
public:
    // A shared LocalDay of the recent dates asked (the ticks ask for today twice a second).
    static std::shared_ptr<const LocalDay> of(const QDate& date, const QTimeZone& zone);

    LocalDay(const QDate& date, const QTimeZone& zone);

    const QDate& date() const { return m_date; }
    // The moment the wall clock first shows `second` (0 .. 86399) of this date.
    // 86400 gives the start of the next date.
    qint64 toUtc(int second) const;
    // First and last moment of the date.
    qint64 first() const { return m_first; }
    qint64 last() const { return m_last; }
    // The moments whose wall time lies within seconds [from, to] of this date,
    // as the ticks read the clock: the repeated hour counts twice, the gap not at all.
    std::vector<std::pair<qint64, qint64>> wallSpans(int from, int to) const;
    // The wall second of the date that `utc` shows.
    int wallSecond(qint64 utc) const;

private:
    struct Segment
    {
        qint64 from; // moments [from, to) run at `offset`
        qint64 to;
        int offset;
    };
    QDate m_date;
    qint64 m_wallMidnight = 0; // the date's 00:00:00 as if it were UTC
    std::vector<Segment> m_segments;
    qint64 m_first = 0;
    qint64 m_last = 0;
};

} // namespace kestra::calendar
