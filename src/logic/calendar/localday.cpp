#include "logic/calendar/localday.h"

#include "base/timetext.h"

#include <QMutex>
#include <algorithm>
#include <map>
#include <memory>

namespace kestra::calendar {

namespace {
constexpr qint64 kMargin = 2 * kSecondsPerDay; // more than any UTC offset
}

LocalDay::LocalDay(const QDate& date, const QTimeZone& zone) : m_date(date)
{
    m_wallMidnight = QDateTime(date, QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
    const qint64 from = m_wallMidnight - kMargin;
    const qint64 to = m_wallMidnight + kSecondsPerDay + kMargin;
    const QTimeZone z = zone.isValid() ? zone : QTimeZone::utc();
    const auto at = [](qint64 s) { return QDateTime::fromSecsSinceEpoch(s, QTimeZone::utc()); };
    qint64 segStart = from;
    int offset = z.offsetFromUtc(at(from));
    if (z.hasTransitions()) {
        for (const QTimeZone::OffsetData& t : z.transitions(at(from + 1), at(to))) {
            const qint64 s = t.atUtc.toSecsSinceEpoch();
            if (s <= segStart || t.offsetFromUtc == offset) continue;
            m_segments.push_back({segStart, s, offset});
            segStart = s;
            offset = t.offsetFromUtc;
        }
    }
    m_segments.push_back({segStart, to, offset});
    m_first = toUtc(0);
    m_last = toUtc(kSecondsPerDay) - 1;
}

std::shared_ptr<const LocalDay> LocalDay::of(const QDate& date, const QTimeZone& zone)
{
    // Days are kept for the life of the program once asked; a few hundred at most in practice,
    // and the store is emptied when it grows past that.
    static QMutex mutex;
    static std::map<std::pair<qint64, QByteArray>, std::shared_ptr<const LocalDay>> days;
    const QMutexLocker lock(&mutex);
    auto key = std::make_pair(date.toJulianDay(), zone.id());
    auto it = days.find(key);
    if (it == days.end()) {
        if (days.size() >= 512) days.clear();
        it = days.emplace(std::move(key), std::make_shared<const LocalDay>(date, zone)).first;
    }
    return it->second;
}

qint64 LocalDay::toUtc(int second) const
{
    const qint64 wall = m_wallMidnight + second;
    for (size_t i = 0; i < m_segments.size(); ++i) {
        const Segment& s = m_segments[i];
        const qint64 utc = wall - s.offset;
        if (utc >= s.from && utc < s.to) return utc;
        // Past this segment's end, but before the next one's wall clock begins: the gap.
        if (utc >= s.to && i + 1 < m_segments.size() &&
            wall - m_segments[i + 1].offset < m_segments[i + 1].from)
            return m_segments[i + 1].from;
    }
    return wall - m_segments.back().offset;
}

std::vector<std::pair<qint64, qint64>> LocalDay::wallSpans(int from, int to) const
{
    std::vector<std::pair<qint64, qint64>> out;
    for (const Segment& s : m_segments) {
        const qint64 a = std::max({s.from, m_wallMidnight + from - s.offset, m_first});
        const qint64 b = std::min({s.to - 1, m_wallMidnight + to - s.offset, m_last});
        if (a <= b) out.emplace_back(a, b);
    }
    return out;
}

int LocalDay::wallSecond(qint64 utc) const
{
    for (const Segment& s : m_segments)
        if (utc >= s.from && utc < s.to) return int(utc + s.offset - m_wallMidnight);
    return int(utc + m_segments.back().offset - m_wallMidnight);
}

} // namespace kestra::calendar
