// The porch light of a house in Hamburg, from the place set with `ctl place` to
// the byte at the port: ON at sunset minus 15 minutes but not before 17:00,
// until 23:00, Monday to Friday; OFF through the Christmas holidays of an .ics
// file; moved by up to 10 minutes a day while the family is away. Each day is
// one run of the headless switch whose clock libfaketime sets a few seconds
// before the moment in question, in the time zone of Hamburg.

#include "logic/calendar/ics.h"
#include "storage/calendar/file.h"
#include "tests/support/sandbox.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTimeZone>

using namespace e2e;
using namespace kestra;

namespace {
constexpr int kPorch = 7; // channel 7: ON from its start second to its finish second
constexpr int kPorchBit = 1 << (kPorch - 1);
const QByteArray kZone = "Europe/Berlin";

// Sunsets at Hamburg (53.5511 N, 9.9937 E) from PyEphem 4.1.4, the XEphem
// astronomy library (Debian's python3-ephem), counted as the US Naval
// Observatory's tables count them: the sun's upper limb on a horizon lowered
// by 34' of refraction, no height above the sea.
struct Reference
{
    QDate date;
    QTime sunset; // CET
};
const Reference kMonday1Mar2027{{2027, 3, 1}, {17, 57, 4}};
const Reference kTuesday2Mar2027{{2027, 3, 2}, {17, 58, 59}};
const Reference kMonday7Dec2026{{2026, 12, 7}, {16, 1, 13}};

const char* const kChristmas = "BEGIN:VCALENDAR\r\n"
                               "VERSION:2.0\r\n"
                               "PRODID:-//Hamburg school board//holidays//EN\r\n"
                               "BEGIN:VEVENT\r\n"
                               "UID:christmas-2026@schools.example.org\r\n"
                               "DTSTAMP:20260601T000000Z\r\n"
                               "SUMMARY:Christmas holidays\r\n"
                               "DTSTART;VALUE=DATE:20261221\r\n"
                               "DTEND;VALUE=DATE:20270102\r\n"
                               "END:VEVENT\r\n"
                               "END:VCALENDAR\r\n";

QTimeZone zone()
{
    return QTimeZone(kZone);
}

QDateTime at(const QDate& d, const QTime& t)
{
    return QDateTime(d, t, zone());
}

struct Ctl
{
    int code = -1;
    QString out, err;
};

// `kestra3 ctl ARGS` as a person in Hamburg runs it.
Ctl ctl(const Sandbox& box, const QStringList& args)
{
    QProcessEnvironment env = box.environment();
    env.insert(QStringLiteral("TZ"), QString::fromLatin1(kZone));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(kestra3().exe, QStringList{QStringLiteral("ctl")} + args);
    Ctl r;
    if (!p.waitForFinished(10000)) return r;
    r.code = p.exitCode();
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// What one run of the switch showed and did.
struct Run
{
    QString next;              // the porch light's next switching, as `ctl next` says it
    QDateTime nextAt;          // and its moment
    qint64 portOnMs = -1;      // the program's clock when the port's bit went ON
    QList<qint64> historyOnMs; // the history's ON rows of the porch light
    QStringList historyCauses; // and their causes
};

// Runs the headless switch with its clock at `from` until its clock reaches `until`.
bool runSwitch(const Sandbox& box, const QDateTime& from, const QDateTime& until, Run& run)
{
    const Build b = kestra3();
    // Whole seconds ahead (or back), so that the program's clock is known to the millisecond.
    const qint64 offset = from.toSecsSinceEpoch() - QDateTime::currentSecsSinceEpoch();
    const auto programMs = [&] { return QDateTime::currentMSecsSinceEpoch() + offset * 1000; };
    // The byte stored at the last stop is written at the start: OFF, so that the start adds no step.
    if (!box.setFields(b, {{QStringLiteral("output"), QStringLiteral("0")}})) return false;
    Program k(box, b);
    k.setArguments({QStringLiteral("--headless")});
    k.setEnvironment(QStringLiteral("TZ"), QString::fromLatin1(kZone));
    k.setEnvironment(QStringLiteral("LD_PRELOAD"), libfaketime());
    k.setEnvironment(QStringLiteral("FAKETIME"),
                     QStringLiteral("%1%2").arg(offset < 0 ? "" : "+").arg(offset));
    k.setEnvironment(QStringLiteral("DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    if (!k.start() || !k.waitRunning()) {
        qWarning("the switch did not start: %s", qPrintable(k.standardError()));
        return false;
    }
    if (!waitUntil(
            [&] { return QFileInfo::exists(box.runtime() + QStringLiteral("/kestra/kestra3-api.json")); },
            5s))
        return false;
    Ctl next;
    waitUntil(
        [&] {
            return (next = ctl(box, {QStringLiteral("next"), QStringLiteral("--json")})).code == 0;
        },
        5s, 100);
    for (const QJsonValue& v : QJsonDocument::fromJson(next.out.toUtf8())["outputs"].toArray()) {
        if (v["output"].toInt() != kPorch) continue;
        run.next = v["next"]["text"].toString();
        run.nextAt = QDateTime::fromString(v["next"]["at"].toString(), Qt::ISODate);
    }
    if (programMs() >= until.toMSecsSinceEpoch()) {
        qWarning("the start-up took longer than the lead");
        return false;
    }
    bool wasOff = false;
    waitUntil(
        [&] {
            const int data = box.port(b).data;
            if (data >= 0 && !(data & kPorchBit)) wasOff = true;
            if (wasOff && run.portOnMs < 0 && data >= 0 && (data & kPorchBit)) run.portOnMs = programMs();
            return programMs() >= until.toMSecsSinceEpoch();
        },
        std::chrono::milliseconds(until.toMSecsSinceEpoch() - programMs() + 1000), 2);
    if (!k.terminate(5s)) return false;

    const Connection c(box.programDir() + QStringLiteral("/History3BC.db"),
                       QStringLiteral("QSQLITE_OPEN_READONLY"));
    QSqlQuery q(c.db());
    q.prepare(QStringLiteral(
        "SELECT ms, cause FROM output_changes WHERE output = ? AND state = 'ON' AND ms BETWEEN ? AND ? "
        "ORDER BY ms"));
    q.addBindValue(kPorch);
    q.addBindValue(from.toMSecsSinceEpoch());
    q.addBindValue(programMs());
    if (!q.exec()) return false;
    while (q.next()) {
        run.historyOnMs << q.value(0).toLongLong();
        run.historyCauses << q.value(1).toString();
    }
    return true;
}

// "next: Mon 17:42:04 ON (sunset)"
QString nextText(const QDateTime& t, const QString& why)
{
    const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thr", "Fri", "Sat"};
    return QStringLiteral("next: %1 %2 ON (%3)")
        .arg(QLatin1String(days[t.date().dayOfWeek() % 7]), t.toString(QStringLiteral("hh:mm:ss")), why);
}

// The sunset the switch itself tells for `date`, checked against the reference.
QDateTime sunsetOf(const Sandbox& box, const Reference& ref)
{
    const Ctl sun =
        ctl(box, {QStringLiteral("sun"), ref.date.toString(Qt::ISODate), QStringLiteral("--json")});
    const QDateTime told =
        QDateTime::fromString(QJsonDocument::fromJson(sun.out.toUtf8())["sunset"].toString(), Qt::ISODate);
    const qint64 off = std::abs(told.secsTo(at(ref.date, ref.sunset)));
    qInfo("sunset on %s: %s, %lld s from the reference", qPrintable(ref.date.toString(Qt::ISODate)),
          qPrintable(told.toTimeZone(zone()).toString(QStringLiteral("hh:mm:ss"))), off);
    return told.isValid() && off <= 60 ? told : QDateTime();
}

Fields porchFields()
{
    Fields f{{QStringLiteral("SOURCEPORT"), QStringLiteral("True")},
             {QStringLiteral("output"), QStringLiteral("0")},
             {QStringLiteral("Loc7"), QStringLiteral("Porch light")},
             {QStringLiteral("Auto7"), QStringLiteral("True")},
             {QStringLiteral("On7"), QStringLiteral("False")},
             {QStringLiteral("Off7"), QStringLiteral("False")},
             {QStringLiteral("Start7a"), QStringLiteral("17:00:00")},
             {QStringLiteral("Run7a"), QStringLiteral("23:00:00")}}; // channel 7's finish time
    const QStringList working{"Mon", "Tue", "Wed", "Thr", "Fri"};
    for (const QString& d : working + QStringList{"Sat", "Sun"}) {
        const QString flag = working.contains(d) ? QStringLiteral("True") : QStringLiteral("False");
        f.push_back({d + QStringLiteral("7"), flag});
        f.push_back({d.toUpper() + QStringLiteral("7A"), flag});
    }
    return f;
}
} // namespace

class TstPorch : public QObject
{
    Q_OBJECT

private slots:
    void porchLight()
    {
        REQUIRE_FAKETIME();
        Sandbox box;
        const Build b = kestra3();
        FIRST_RUN_AT(box, b, QString());
        QString sqlError;
        QVERIFY2(box.setFields(b, porchFields(), &sqlError), qPrintable(sqlError));
        QVERIFY(box.writePort(b, 0, 0));

        // The place, as a person sets it, and the calendar as the output's window stores it.
        const Ctl place = ctl(box, {"place", "53.5511", "9.9937", "Hamburg"});
        QVERIFY2(place.code == 0, qPrintable(place.err));
        const QString ics = box.root() + QStringLiteral("/holidays.ics");
        {
            QFile f(ics);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kChristmas);
        }
        const calendar::CalendarFile file(box.programDir() + QStringLiteral("/Kestra3-calendar.db"));
        QVERIFY(file.exists());
        calendar::Settings s = file.load();
        s.holidays = calendar::importIcsFile(ics, kPorchBit, calendar::Holiday::Action::Off, {2026, 12, 1});
        QCOMPARE(s.holidays.size(), size_t(1));
        calendar::SwitchingAnchors porch;
        porch.start = {calendar::Anchor::Kind::Sunset, -15 * 60, 17 * 3600, std::nullopt};
        s.outputs[kPorch - 1].switchings = {porch};
        file.save(s);

        const QDateTime sunset1Mar = sunsetOf(box, kMonday1Mar2027);
        QVERIFY(sunset1Mar.isValid());
        const QDateTime sunset7Dec = sunsetOf(box, kMonday7Dec2026);
        QVERIFY(sunset7Dec.isValid());
        const QDateTime fivePm7Dec = at(kMonday7Dec2026.date, QTime(17, 0));
        QVERIFY(sunset7Dec.addSecs(-900) < fivePm7Dec);

        struct Day
        {
            const char* name;
            QDateTime due; // when a working day would switch ON
            bool switches; // whether it does
            QString next;  // the next switching shown a few seconds before
        };
        const QDateTime onMon1Mar = sunset1Mar.addSecs(-900).toTimeZone(zone());
        const Day days[] = {
            {"working day: sunset minus 15 minutes", onMon1Mar, true, nextText(onMon1Mar, "sunset")},
            {"working day: not before 17:00", fivePm7Dec, true, nextText(fivePm7Dec, "sunset")},
            {"Saturday: OFF", at({2026, 12, 5}, QTime(17, 0)), false, nextText(fivePm7Dec, "sunset")},
            {"Christmas holidays: OFF", at({2026, 12, 21}, QTime(17, 0)), false,
             QStringLiteral("no switching this week")},
        };
        for (const Day& d : days) {
            Run run;
            QVERIFY2(runSwitch(box, d.due.addSecs(-4), d.due.addSecs(2), run), d.name);
            QVERIFY2(run.next == d.next, qPrintable(QStringLiteral("%1: %2").arg(d.name, run.next)));
            if (!d.switches) {
                QVERIFY2(run.portOnMs < 0 && run.historyOnMs.isEmpty(), d.name);
                continue;
            }
            const qint64 into = run.portOnMs - d.due.toMSecsSinceEpoch();
            qInfo("%s: ON at the port %lld ms into its second", d.name, into);
            QVERIFY2(into >= 0 && into < 1000, qPrintable(QStringLiteral("%1: %2 ms").arg(d.name).arg(into)));
            QCOMPARE(run.historyOnMs.size(), 1);
            QCOMPARE(run.historyOnMs.first() / 1000, d.due.toSecsSinceEpoch());
            QCOMPARE(run.historyCauses.first(), QStringLiteral("sunset"));
        }

        // The family goes away: every switching moves by up to 10 minutes, drawn once a day.
        s = file.load();
        s.outputs[kPorch - 1].presenceMinutes = 10;
        file.save(s);
        const QDateTime sunset2Mar = sunsetOf(box, kTuesday2Mar2027);
        QVERIFY(sunset2Mar.isValid());
        const QDateTime unshifted = sunset2Mar.addSecs(-900);
        Run told;
        const QDateTime early = at(kTuesday2Mar2027.date, QTime(17, 20));
        QVERIFY(runSwitch(box, early, early.addSecs(3), told));
        QVERIFY2(told.nextAt.isValid() && std::abs(told.nextAt.secsTo(unshifted)) <= 600,
                 qPrintable(told.next));
        QCOMPARE(told.next, nextText(told.nextAt.toTimeZone(zone()), "sunset"));
        qInfo("away: moved by %lld s", unshifted.secsTo(told.nextAt));
        // Started again just before, the switch keeps the day's draw and switches when it said.
        Run after;
        QVERIFY(runSwitch(box, told.nextAt.addSecs(-4), told.nextAt.addSecs(2), after));
        QCOMPARE(after.next, told.next);
        const qint64 into = after.portOnMs - told.nextAt.toMSecsSinceEpoch();
        QVERIFY2(into >= 0 && into < 1000, qPrintable(QStringLiteral("%1 ms").arg(into)));
        QCOMPARE(after.historyOnMs.size(), 1);
        QCOMPARE(after.historyOnMs.first() / 1000, told.nextAt.toSecsSinceEpoch());
        QCOMPARE(after.historyCauses.first(), QStringLiteral("sunset"));
    }
};

QTEST_GUILESS_MAIN(TstPorch)
#include "tst_porch.moc"
