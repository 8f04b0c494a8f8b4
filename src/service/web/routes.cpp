#include "service/web/routes.h"

#include "base/failure.h"
#include "base/paths.h"
#include "logic/week/weekmodel.h"
#include "model/channel.h"
#include "model/recorder.h"
#include "model/switchmodel.h"
#include "storage/history/query.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kestra::web {

using api::HttpRequest;
using api::HttpResponse;

namespace {

constexpr int kMaxRows = 5000;
constexpr int kMaxDays = 31;

// A pulse is listed phase by phase when a period lasts at least this long (the
// page's week is 700 units wide: four of them); a faster one is a striped band.
constexpr qint64 kPhasesFromMs = 3600 * 1000;
constexpr qint64 kWeekMs = qint64(week::kSecondsPerWeek) * 1000;

// [from, to) in ms since the epoch as seconds of the week, both included, as
// the ON periods are; nothing when it holds no whole second.
std::optional<QJsonArray> weekSpan(const QDateTime& now, qint64 from, qint64 to)
{
    if (to - from >= kWeekMs) return QJsonArray{0, week::kSecondsPerWeek - 1};
    if (to - from < 1000) return std::nullopt;
    QDateTime a = now, b = now;
    a.setMSecsSinceEpoch(from);
    b.setMSecsSinceEpoch(to - 1000);
    return QJsonArray{week::weekSecondOf(a), week::weekSecondOf(b)};
}

QJsonObject pulseOf(const week::PulsePlan& pulse, const QDateTime& now)
{
    QJsonObject out{{QStringLiteral("text"), pulse.describe()},
                    {QStringLiteral("share"),
                     double(pulse.onMs) / double(std::max<qint64>(1, pulse.onMs + pulse.offMs))}};
    if (now.isValid() && (pulse.endless || pulse.onMs + pulse.offMs >= kPhasesFromMs)) {
        QJsonArray phases;
        const qint64 from = now.toMSecsSinceEpoch();
        for (const auto& [a, b] : pulse.onPhases(from, from + kWeekMs))
            if (const auto span = weekSpan(now, a, b)) phases.append(*span);
        out.insert(QStringLiteral("phases"), phases);
    }
    return out;
}

HttpResponse weekAnswer(const api::Sources& s)
{
    const QDateTime now = s.week.now().isValid() ? s.week.now() : s.model.context().clock.now();
    QJsonArray outputs;
    for (int m = 1; m <= 8; ++m) {
        const week::ChannelPicture& p = s.week.picture(m);
        QJsonArray on;
        for (const week::Interval& i : p.week.periods())
            on.append(QJsonArray{i.from, i.to});
        QString text = p.week.frozen ? QStringLiteral("frozen at its last state") : channels::modeName(p.mode);
        if (p.pulse) text = p.pulse->describe();
        QJsonObject out{{QStringLiteral("output"), m},
                        {QStringLiteral("location"), p.location},
                        {QStringLiteral("mode"), channels::modeName(p.mode)},
                        {QStringLiteral("frozen"), p.week.frozen},
                        {QStringLiteral("problem"), p.week.problem},
                        {QStringLiteral("on"), on},
                        {QStringLiteral("text"), text},
                        {QStringLiteral("next"), week::nextSwitchingText(s.week.next(m))}};
        if (p.week.frozen) out.insert(QStringLiteral("frozenStatus"), p.frozenStatus);
        if (p.pulse) out.insert(QStringLiteral("pulse"), pulseOf(*p.pulse, now));
        if (p.hold && now.isValid() && now < p.hold->until) {
            QJsonObject hold{
                {QStringLiteral("on"), p.hold->on},
                {QStringLiteral("until"), p.hold->until.toString(Qt::ISODate)},
                {QStringLiteral("untilText"), week::weekSecondText(week::weekSecondOf(p.hold->until))}};
            if (const auto span = weekSpan(now, now.toMSecsSinceEpoch(), p.hold->until.toMSecsSinceEpoch()))
                hold.insert(QStringLiteral("span"), *span);
            out.insert(QStringLiteral("hold"), hold);
        }
        QJsonArray missed;
        for (int day = 0; day < 7; ++day)
            if (!p.week.missed[day].isEmpty())
                missed.append(
                    QJsonObject{{QStringLiteral("day"), day},
                                {QStringLiteral("notes"), QJsonArray::fromStringList(p.week.missed[day])}});
        if (!missed.isEmpty()) out.insert(QStringLiteral("missed"), missed);
        outputs.append(out);
    }
    return api::jsonAnswer(200, {{QStringLiteral("weekSecond"), week::weekSecondOf(now)},
                      {QStringLiteral("now"), now.toString(Qt::ISODate)},
                      {QStringLiteral("outputs"), outputs}});
}

struct Days
{
    QDate first, last;
    QString problem;
};

Days daysOf(const HttpRequest& r, const QDate& today)
{
    Days d;
    const QByteArray from = r.query.value("from");
    d.first = from.isEmpty() ? today : QDate::fromString(QString::fromLatin1(from), Qt::ISODate);
    bool ok = true;
    const QByteArray days = r.query.value("days", "1");
    const int n = days.toInt(&ok);
    if (!d.first.isValid()) d.problem = QStringLiteral("\"from\" must be a date: YYYY-MM-DD");
    else if (!ok || n < 1 || n > kMaxDays) d.problem = QStringLiteral("\"days\" must be 1 to %1").arg(kMaxDays);
    else d.last = d.first.addDays(n - 1);
    return d;
}

HttpResponse historyAnswer(const api::Sources& s, const HttpRequest& r, bool csv)
{
    const Days d = daysOf(r, s.model.context().clock.now().date());
    if (!d.problem.isEmpty()) return api::refusalAnswer(400, d.problem);
    QList<history::Row> rows;
    try {
        rows = history::rowsOfDays(s.recorder.path(), d.first, d.last, {}, kMaxRows);
    } catch (const Failure& f) {
        return api::refusalAnswer(503, f.description);
    }
    if (csv) {
        HttpResponse out{200, history::csvOf(rows).toUtf8(), "text/csv; charset=utf-8"};
        out.headers.append({"Content-Disposition", QStringLiteral("attachment; filename=\"history-%1-to-%2.csv\"")
                                                       .arg(d.first.toString(Qt::ISODate), d.last.toString(Qt::ISODate))
                                                       .toLatin1()});
        return out;
    }
    QJsonArray list;
    for (const history::Row& row : rows)
        list.append(QJsonObject{{QStringLiteral("ms"), double(row.ms)},
                                {QStringLiteral("time"), history::timeText(row.ms)},
                                {QStringLiteral("line"), row.line},
                                {QStringLiteral("state"), row.state},
                                {QStringLiteral("cause"), row.cause},
                                {QStringLiteral("byte"), row.byte}});
    const QString text = rows.size() >= kMaxRows
                             ? QStringLiteral("The newest %1 changes of the dates chosen").arg(kMaxRows)
                             : QStringLiteral("%1 changes").arg(rows.size());
    return api::jsonAnswer(200, {{QStringLiteral("rows"), list},
                      {QStringLiteral("text"), text},
                      {QStringLiteral("problem"), s.recorder.problem()}});
}

QJsonArray wavesIn(const QString& dir)
{
    if (dir.isEmpty()) return {};
    return QJsonArray::fromStringList(
        QDir(dir).entryList({QStringLiteral("*.wav"), QStringLiteral("*.WAV")}, QDir::Files | QDir::Readable, QDir::Name));
}

// The lists the windows' time boxes offer, and which boxes offer the start
// times (the others offer the run times, as does input 3's hold time).
HttpResponse presetsAnswer(const api::Sources& s)
{
    QJsonArray boxes;
    for (int m = 1; m <= 8; ++m) {
        const model::Channel& c = s.model.channel(m);
        QJsonArray start;
        for (int i = 0; i < c.timeCount(); ++i)
            if (c.time(i).offersStartTimes()) start.append(i);
        boxes.append(start);
    }
    const model::Channel& any = s.model.channel(1);
    return api::jsonAnswer(200, {{QStringLiteral("startTimes"), QJsonArray::fromStringList(any.startTimes())},
                                 {QStringLiteral("runTimes"), QJsonArray::fromStringList(any.runTimes())},
                                 {QStringLiteral("startBoxes"), boxes}});
}

} // namespace

std::optional<HttpResponse> route(const api::Sources& s, const HttpRequest& r)
{
    if (!r.path.startsWith("/api/web/")) return std::nullopt;
    const QByteArray what = r.path.mid(9);
    if (what != "week" && what != "history" && what != "history.csv" && what != "sounds" && what != "presets")
        return std::nullopt;
    if (r.method != "GET") return api::refusalAnswer(405, QStringLiteral("%1 is read with GET").arg(QString::fromLatin1(r.path)));
    if (what == "week") return weekAnswer(s);
    if (what == "presets") return presetsAnswer(s);
    if (what == "sounds")
        return api::jsonAnswer(200, {{QStringLiteral("input4"), wavesIn(s.model.inputs().input4Directory())},
                          {QStringLiteral("input5"), wavesIn(programDirectory())}});
    return historyAnswer(s, r, what == "history.csv");
}

} // namespace kestra::web
