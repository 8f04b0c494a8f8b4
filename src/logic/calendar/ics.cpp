#include "logic/calendar/ics.h"

#include "base/failure.h"

#include <QFile>
#include <QStringDecoder>
#include <libical/ical.h>
#include <memory>

namespace kestra::calendar {

namespace {
[[noreturn]] void refuse(const QString& what)
{
    throw Failure(failure::kConversion, QStringLiteral("Holiday file refused: ") + what);
}

struct ComponentFree
{
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
struct IteratorFree
{
    void operator()(icalrecur_iterator* i) const { icalrecur_iterator_free(i); }
};

std::optional<QDate> dateOf(const icaltimetype& t)
{
    if (icaltime_is_null_time(t)) return std::nullopt;
    const QDate d(t.year, t.month, t.day);
    if (!d.isValid() || t.year < 1900 || t.year > 2200) return std::nullopt;
    return d;
}

bool plainlyYearly(const icalrecurrencetype& r)
{
    const auto none = [](const short* a) { return a[0] == ICAL_RECURRENCE_ARRAY_MAX; };
    return r.count == 0 && icaltime_is_null_time(r.until) && r.interval <= 1 && none(r.by_day) &&
           none(r.by_year_day) && none(r.by_week_no) && none(r.by_set_pos) && none(r.by_month_day) &&
           none(r.by_month);
}
} // namespace

std::vector<Holiday> importIcs(const QByteArray& text, quint8 outputs, Holiday::Action action,
                               const QDate& today)
{
    if (text.size() > kMaxIcsBytes)
        refuse(QStringLiteral("it is larger than %1 KiB").arg(kMaxIcsBytes / 1024));
    if (text.contains('\0')) refuse(QStringLiteral("it holds NUL bytes (not a text file)"));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(text);
    if (utf8.hasError()) refuse(QStringLiteral("it is not UTF-8 text (another encoding?)"));
    if (!decoded.trimmed().startsWith(QLatin1String("BEGIN:VCALENDAR"), Qt::CaseInsensitive))
        refuse(QStringLiteral("it does not begin with BEGIN:VCALENDAR (not an iCalendar file)"));

    std::unique_ptr<icalcomponent, ComponentFree> cal(icalparser_parse_string(text.constData()));
    if (!cal || icalcomponent_isa(cal.get()) != ICAL_VCALENDAR_COMPONENT)
        refuse(QStringLiteral("it is not one iCalendar (VCALENDAR)"));

    std::vector<Holiday> out;
    int events = 0;
    for (icalcomponent* ev = icalcomponent_get_first_component(cal.get(), ICAL_VEVENT_COMPONENT); ev;
         ev = icalcomponent_get_next_component(cal.get(), ICAL_VEVENT_COMPONENT)) {
        if (++events > kMaxIcsEvents) refuse(QStringLiteral("more than %1 events").arg(kMaxIcsEvents));
        const char* summary = icalcomponent_get_summary(ev);
        const QString name = summary ? QString::fromUtf8(summary).left(200) : QStringLiteral("holiday");
        const QString which = QStringLiteral("event %1 (%2)").arg(events).arg(name);
        if (icalcomponent_count_errors(ev) > 0) {
            icalproperty* e = icalcomponent_get_first_property(ev, ICAL_XLICERROR_PROPERTY);
            refuse(QStringLiteral("%1: %2").arg(which, e ? QString::fromUtf8(icalproperty_get_xlicerror(e))
                                                         : QStringLiteral("it does not parse")));
        }
        const icaltimetype start = icalcomponent_get_dtstart(ev);
        const auto from = dateOf(start);
        if (!from) refuse(which + QStringLiteral(": no valid start date"));
        QDate to = *from;
        const icaltimetype end = icalcomponent_get_dtend(ev);
        if (!icaltime_is_null_time(end)) {
            const auto e = dateOf(end);
            if (!e) refuse(which + QStringLiteral(": the end date is not valid"));
            // An all-day end, and an end at midnight, is the first day after the period.
            const bool exclusive = end.is_date || (end.hour == 0 && end.minute == 0 && end.second == 0);
            to = exclusive && *e > *from ? e->addDays(-1) : *e;
            if (to < *from) refuse(which + QStringLiteral(": it ends before it starts"));
        }
        if (from->daysTo(to) > 366) refuse(which + QStringLiteral(": it lasts more than a year"));

        icalproperty* rule = icalcomponent_get_first_property(ev, ICAL_RRULE_PROPERTY);
        if (!rule) {
            out.push_back({name, *from, to, false, outputs, action});
            continue;
        }
        if (icalcomponent_get_next_property(ev, ICAL_RRULE_PROPERTY))
            refuse(which + QStringLiteral(": more than one repeat rule"));
        const icalrecurrencetype r = icalproperty_get_rrule(rule);
        if (r.freq != ICAL_YEARLY_RECURRENCE)
            refuse(which + QStringLiteral(": only yearly repeat rules are taken"));
        if (plainlyYearly(r)) {
            if (from->daysTo(to) >= 365)
                refuse(which + QStringLiteral(": a yearly period must be shorter than a year"));
            out.push_back({name, *from, to, true, outputs, action});
            continue;
        }
        // A rule such as "fourth Thursday of November": its dates, bounded.
        std::unique_ptr<icalrecur_iterator, IteratorFree> it(icalrecur_iterator_new(r, start));
        if (!it) refuse(which + QStringLiteral(": its repeat rule does not read"));
        const int length = int(from->daysTo(to));
        int taken = 0;
        for (int step = 0; step < 200 + kMaxIcsOccurrences; ++step) {
            const icaltimetype next = icalrecur_iterator_next(it.get());
            const auto d = dateOf(next);
            if (!d || d->year() > today.year() + kMaxIcsYearsAhead) break;
            if (d->addDays(length) < today.addYears(-1)) continue;
            if (++taken > kMaxIcsOccurrences) refuse(which + QStringLiteral(": its rule repeats too often"));
            out.push_back({name, *d, d->addDays(length), false, outputs, action});
        }
        if (out.size() > size_t(kMaxHolidays))
            refuse(QStringLiteral("more than %1 periods").arg(kMaxHolidays));
    }
    if (events == 0) refuse(QStringLiteral("it holds no events"));
    return out;
}

std::vector<Holiday> importIcsFile(const QString& path, quint8 outputs, Holiday::Action action,
                                   const QDate& today)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) refuse(QStringLiteral("%1: %2").arg(path, f.errorString()));
    if (f.size() > kMaxIcsBytes) refuse(QStringLiteral("it is larger than %1 KiB").arg(kMaxIcsBytes / 1024));
    return importIcs(f.read(kMaxIcsBytes + 1), outputs, action, today);
}

void addImported(Settings& s, const std::vector<Holiday>& periods)
{
    if (s.holidays.size() + periods.size() > size_t(kMaxHolidays))
        refuse(QStringLiteral("more than %1 periods in all").arg(kMaxHolidays));
    s.holidays.insert(s.holidays.end(), periods.begin(), periods.end());
}

} // namespace kestra::calendar
