#include "base/clock.h"
#include "base/failure.h"
#include "logic/calendar/ics.h"
#include "logic/calendar/plan.h"
#include "logic/calendar/sun.h"
#include "logic/week/intervals.h"
#include "logic/week/next.h"
#include "storage/calendar/command.h"
#include "storage/calendar/file.h"
#include "tests/calendar/noaa.h"
#include "tests/support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <ctime>
#include <set>

using namespace kestra;
using namespace kestra::calendar;
using channels::ChannelControls;
using channels::Mode;

namespace {
// The clock as the program reads it: local time of the zone in TZ.
void useZone(const QByteArray& zone)
{
    qputenv("TZ", zone);
    ::tzset();
}

QDateTime local(const QDate& d, const QTime& t)
{
    return QDateTime(d, t); // Qt::LocalTime, as the system clock gives it
}

ChannelControls channel(int m, const QString& dayNames, QStringList starts, QStringList runs,
                        const QString& finishDays = {})
{
    ChannelControls c;
    c.channel = m;
    c.mode = Mode::Auto;
    c.days = test::days(dayNames);
    c.finishDays = test::days(finishDays);
    while (starts.size() < channels::switchingCount(m)) {
        starts << QStringLiteral("00:00:00");
        runs << QStringLiteral("00:00:00");
    }
    c.starts = starts;
    c.runs = runs;
    return c;
}

Anchor sun(Anchor::Kind k, int offsetMinutes = 0, std::optional<int> notBefore = {},
           std::optional<int> notAfter = {})
{
    return Anchor{k, offsetMinutes * 60, notBefore, notAfter};
}

Settings berlin()
{
    Settings s;
    s.place = {true, 52.52, 13.405, QStringLiteral("Berlin")};
    s.seed = 20261208;
    return s;
}

bool tickOn(const ChannelControls& c, const Settings& s, const QDateTime& now)
{
    State status = State::Calculating;
    evaluate(c, s, inputs::OverrideView{}, now, status);
    return status == State::On;
}
} // namespace

class TstCalendar : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(QTimeZone(QByteArray("Europe/Berlin")).isValid()); // tzdata is installed
    }

    // libnova's rise and set of a local date against the NOAA Solar
    // Calculator's equations (tests/calendar/noaa.h), within a minute. Catches
    // a wrong longitude sign, the UT day taken for the local date (Honolulu,
    // Auckland), and a horizon that is not the twilight chosen.
    void sunAgainstNoaa_data()
    {
        QTest::addColumn<double>("lat");
        QTest::addColumn<double>("lon");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<int>("twilight");
        QTest::newRow("Berlin midsummer")
            << 52.52 << 13.405 << QByteArray("Europe/Berlin") << QDate(2026, 6, 21) << 0;
        QTest::newRow("Berlin midwinter")
            << 52.52 << 13.405 << QByteArray("Europe/Berlin") << QDate(2026, 12, 21) << 0;
        QTest::newRow("Berlin civil")
            << 52.52 << 13.405 << QByteArray("Europe/Berlin") << QDate(2026, 3, 29) << 1;
        QTest::newRow("New York nautical")
            << 40.71 << -74.006 << QByteArray("America/New_York") << QDate(2026, 3, 8) << 2;
        QTest::newRow("Sydney astronomical")
            << -33.87 << 151.21 << QByteArray("Australia/Sydney") << QDate(2026, 7, 1) << 3;
        QTest::newRow("Quito") << -0.18 << -78.47 << QByteArray("America/Guayaquil") << QDate(2026, 9, 23)
                               << 0;
        QTest::newRow("Honolulu") << 21.31 << -157.86 << QByteArray("Pacific/Honolulu") << QDate(2026, 1, 15)
                                  << 0;
        QTest::newRow("Auckland") << -36.85 << 174.76 << QByteArray("Pacific/Auckland") << QDate(2027, 1, 1)
                                  << 0;
        QTest::newRow("Reykjavik June")
            << 64.15 << -21.94 << QByteArray("Atlantic/Reykjavik") << QDate(2026, 6, 10) << 0;
    }
    void sunAgainstNoaa()
    {
        QFETCH(double, lat);
        QFETCH(double, lon);
        QFETCH(QByteArray, zone);
        QFETCH(QDate, date);
        QFETCH(int, twilight);
        const QTimeZone z(zone);
        const Twilight tw = Twilight(twilight);
        const SunDay d = sunDay({true, lat, lon, {}}, tw, date, z);
        QVERIFY(d.rise && d.set);
        const double noon = double(QDateTime(date, QTime(12, 0), z).toSecsSinceEpoch());
        const auto rise = noaa::event(noon, lat, lon, horizonOf(tw), true);
        const auto set = noaa::event(noon, lat, lon, horizonOf(tw), false);
        QVERIFY(rise && set);
        QVERIFY2(std::abs(*d.rise - *rise) <= 60, qPrintable(QString::number(*d.rise - *rise)));
        QVERIFY2(std::abs(*d.set - *set) <= 60, qPrintable(QString::number(*d.set - *set)));
        QCOMPARE(QDateTime::fromSecsSinceEpoch(*d.rise, z).date(), date);
        QCOMPARE(QDateTime::fromSecsSinceEpoch(*d.set, z).date(), date);
    }

    // The polar rule: a switching whose sun event is missing that day does not
    // happen at all (OFF, never a made-up time), and says why.
    void polarRule_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<int>("anchor");
        QTest::addColumn<QString>("note");
        QTest::addColumn<bool>("switches");
        QTest::addColumn<int>("offset"); // minutes
        QTest::newRow("midnight sun, start at sunset") << QDate(2026, 6, 21) << int(Anchor::Kind::Sunset)
                                                       << "no sunset on 21 Jun (midnight sun)" << false << 0;
        QTest::newRow("polar night, end at sunrise") << QDate(2026, 12, 21) << int(Anchor::Kind::Sunrise)
                                                     << "no sunrise on 21 Dec (polar night)" << false << 0;
        QTest::newRow("spring, start at sunset")
            << QDate(2026, 3, 20) << int(Anchor::Kind::Sunset) << "" << true << 0;
        // The sun sets at 00:19 on 18 May: two hours before is the evening of the 17th, which has no sunset.
        QTest::newRow("sunset after midnight, start two hours before")
            << QDate(2027, 5, 18) << int(Anchor::Kind::Sunset)
            << "no switching on 18 May: sunset -2:00 falls on 17 May" << false << -120;
    }
    void polarRule()
    {
        QFETCH(QDate, date);
        QFETCH(int, anchor);
        QFETCH(QString, note);
        QFETCH(bool, switches);
        QFETCH(int, offset);
        Settings s;
        s.place = {true, 69.65, 18.96, QStringLiteral("Tromso")};
        // Sunset starts the switching; sunrise ends one that starts by the clock.
        const bool atStart = Anchor::Kind(anchor) == Anchor::Kind::Sunset;
        s.outputs[3].switchings = {atStart
                                       ? SwitchingAnchors{sun(Anchor::Kind::Sunset, offset), Anchor::run()}
                                       : SwitchingAnchors{{}, sun(Anchor::Kind::Sunrise)}};
        const ChannelControls c = channel(4, "Sun Mon Tue Wed Thu Fri Sat", {"06:00:00"}, {"01:00:00"});
        const auto plan = dayPlan(c, channels::convertSwitchings(c), s, date, QTimeZone("Europe/Oslo"));
        QVERIFY(plan);
        // A sunset after midnight is the date's, said as such (the evening before's).
        QStringList said{note};
        if (date == QDate(2027, 5, 18))
            said << "the sunset of 18 May comes at 00:19, after midnight: it ends the evening of 17 May";
        QCOMPARE(plan->notes.join(QLatin1Char(';')), said.join(QLatin1Char(';')));
        QCOMPARE(plan->missed.join(QLatin1Char(';')), switches ? QString() : note);
        // Switching b (00:00:00 + 00:00:00, clock) still happens: one second at midnight.
        QCOMPARE(int(plan->on.size()), switches ? 2 : 1);
    }

    // Channel 7's edges moved across midnight: a start that the next date's
    // finish cannot take is said and marked, one moved before midnight starts
    // there, and presence never turns a short period into one of almost a day.
    void startFinishAcrossMidnight()
    {
        useZone("Europe/Helsinki");
        const QTimeZone zone("Europe/Helsinki");
        Settings s;
        s.place = {true, 60.17, 24.94, QStringLiteral("Helsinki")};
        // Sunset 22:50 on Friday 19 June: +3:00 is Saturday 01:50, which is no finish day.
        s.outputs[6].switchings = {{sun(Anchor::Kind::Sunset, 180), Anchor::run()}};
        ChannelControls c = channel(7, "Fri", {"22:00:00"}, {"06:00:00"}, "Mon");
        QCOMPARE(dayPlan(c, channels::convertSwitchings(c), s, QDate(2026, 6, 19), zone)->missed,
                 QStringList{"no switching on 19 Jun: sunset +3:00 falls on 20 Jun"});
        // Sunrise 03:54 on Sunday 21 June: -4:00 is Saturday 23:54.
        s.outputs[6].switchings = {{sun(Anchor::Kind::Sunrise, -240), Anchor::run()}};
        c = channel(7, "Sun", {"22:00:00"}, {"06:00:00"}, "Sun");
        QVERIFY(tickOn(c, s, local(QDate(2026, 6, 20), QTime(23, 58))));
        // 20:00 to 20:30 within the day, each edge moved by up to an hour.
        s.outputs[6] = {};
        s.outputs[6].presenceMinutes = 60;
        c = channel(7, "Sun Mon Tue Wed Thu Fri Sat", {"20:00:00"}, {"20:30:00"},
                    "Sun Mon Tue Wed Thu Fri Sat");
        for (QDate d(2026, 5, 1); d < QDate(2026, 7, 1); d = d.addDays(1)) {
            const auto plan = dayPlan(c, channels::convertSwitchings(c), s, d, zone);
            qint64 on = 0;
            for (const Span& sp : plan->on)
                on += sp.to - sp.from + 1;
            QVERIFY2(on <= 150 * 60 + 1, qPrintable(d.toString(Qt::ISODate)));
        }
    }

    // Summer time in two zones: a switching due in the skipped hour comes at
    // the first second after the gap; one due in the repeated hour happens once.
    void summerTime_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("due");
        QTest::addColumn<QString>("firstOn");
        QTest::addColumn<int>("onSeconds");
        QTest::newRow("Berlin spring") << QByteArray("Europe/Berlin") << QDate(2026, 3, 29) << "02:30:00"
                                       << "03:00:00" << 601;
        QTest::newRow("Berlin autumn") << QByteArray("Europe/Berlin") << QDate(2026, 10, 25) << "02:30:00"
                                       << "02:30:00" << 601;
        QTest::newRow("New York spring") << QByteArray("America/New_York") << QDate(2026, 3, 8) << "02:15:00"
                                         << "03:00:00" << 601;
        QTest::newRow("New York autumn") << QByteArray("America/New_York") << QDate(2026, 11, 1) << "01:45:00"
                                         << "01:45:00" << 601;
    }
    void summerTime()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, date);
        QFETCH(QString, due);
        QFETCH(QString, firstOn);
        QFETCH(int, onSeconds);
        useZone(zone);
        Settings s = berlin();
        // Sunrise held at `due` by its limits: a sun anchor due at that clock time.
        const int at = parseTime(due);
        const SwitchingAnchors held{sun(Anchor::Kind::Sunrise, 0, at, at), Anchor::run()};
        s.outputs[3].switchings = {held, held};
        const ChannelControls c = channel(4, "Sun", {"12:00:00"}, {"00:10:00"});
        const QDateTime midnight = local(date, QTime(0, 0));
        QCOMPARE(midnight.timeZone().id(), zone);
        const qint64 from = midnight.toSecsSinceEpoch();
        const qint64 to = local(date.addDays(1), QTime(0, 0)).toSecsSinceEpoch();
        int on = 0;
        QString first;
        for (qint64 t = from; t < to; ++t) {
            if (!tickOn(c, s, QDateTime::fromSecsSinceEpoch(t))) continue;
            if (!on++) first = QDateTime::fromSecsSinceEpoch(t).time().toString(QStringLiteral("hh:mm:ss"));
        }
        QCOMPARE(first, firstOn);
        QCOMPARE(on, onSeconds);
    }

    // A holiday of every year from 24 Dec to 6 Jan, imported from an .ics
    // file: output 3 OFF on both sides of New Year, ON again after it.
    void holidaysAcrossYearEnd_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<bool>("on");
        QTest::newRow("23 Dec 2027") << QDate(2027, 12, 23) << true;
        QTest::newRow("24 Dec 2027") << QDate(2027, 12, 24) << false;
        QTest::newRow("31 Dec 2027") << QDate(2027, 12, 31) << false;
        QTest::newRow("6 Jan 2028") << QDate(2028, 1, 6) << false;
        QTest::newRow("7 Jan 2028") << QDate(2028, 1, 7) << true;
        QTest::newRow("2 Jan 2031") << QDate(2031, 1, 2) << false;
    }
    void holidaysAcrossYearEnd()
    {
        QFETCH(QDate, date);
        QFETCH(bool, on);
        useZone("Europe/Berlin");
        const QByteArray ics =
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VEVENT\r\n"
            "UID:xmas@test\r\nSUMMARY:Christmas holidays\r\nDTSTART;VALUE=DATE:20261224\r\n"
            "DTEND;VALUE=DATE:20270107\r\nRRULE:FREQ=YEARLY\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
        Settings s = berlin();
        s.holidays = importIcs(ics, 0b100, Holiday::Action::Off, QDate(2026, 12, 1));
        QCOMPARE(int(s.holidays.size()), 1);
        QCOMPARE(s.holidays[0].name, QStringLiteral("Christmas holidays"));
        const ChannelControls c = channel(3, "Sun Mon Tue Wed Thu Fri Sat", {"12:00:00"}, {"01:00:00"});
        QCOMPARE(tickOn(c, s, local(date, QTime(12, 30))), on);
    }

    // Hostile or broken holiday files are refused whole, naming the fault.
    void icsRefused_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("fault");
        const QByteArray head = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nSUMMARY:X\r\n";
        const QByteArray tail = "END:VEVENT\r\nEND:VCALENDAR\r\n";
        QTest::newRow("huge") << QByteArray(kMaxIcsBytes + 1, 'A') << "larger than";
        QTest::newRow("latin-1") << head +
                                        "DESCRIPTION:Gr\xfc\xdf"
                                        "e\r\nDTSTART;VALUE=DATE:20261224\r\n" +
                                        tail
                                 << "not UTF-8";
        QTest::newRow("not ics") << QByteArray("hello\n") << "not an iCalendar";
        QTest::newRow("30 Feb") << head + "DTSTART;VALUE=DATE:20260230\r\n" + tail << "no valid start date";
        QTest::newRow("monthly") << head + "DTSTART;VALUE=DATE:20260101\r\nRRULE:FREQ=MONTHLY\r\n" + tail
                                 << "only yearly";
        QTest::newRow("backwards") << head + "DTSTART;VALUE=DATE:20260105\r\nDTEND;VALUE=DATE:20260101\r\n" +
                                          tail
                                   << "ends before it starts";
        QByteArray many = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n";
        for (int i = 0; i <= kMaxIcsEvents; ++i)
            many += "BEGIN:VEVENT\r\nDTSTART;VALUE=DATE:20260101\r\nEND:VEVENT\r\n";
        QTest::newRow("too many") << many + "END:VCALENDAR\r\n"
                                  << "more than 500 events";
    }
    void icsRefused()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, fault);
        try {
            importIcs(text, 1, Holiday::Action::Off, QDate(2026, 12, 1));
            QFAIL("accepted");
        } catch (const Failure& f) {
            QVERIFY2(f.description.contains(fault), qPrintable(f.description));
        }
    }

    // Presence draws come from the stored seed: a restart (the file read
    // again) gives the same times, the days differ, every shift within N.
    void presenceSurvivesRestart()
    {
        QTemporaryDir dir;
        const CalendarFile file(dir.filePath(QStringLiteral("Kestra3-calendar.db")));
        Settings s = file.load();
        s.place = berlin().place;
        s.outputs[2].presenceMinutes = 10;
        file.save(s);
        const Settings again = CalendarFile(file.path()).load();
        QCOMPARE(again, s);
        const ChannelControls c = channel(3, "Sun Mon Tue Wed Thu Fri Sat", {"18:00:00"}, {"02:00:00"});
        std::set<qint64> starts;
        for (QDate d(2026, 5, 1); d < QDate(2026, 5, 31); d = d.addDays(1)) {
            const auto a = dayPlan(c, channels::convertSwitchings(c), s, d, QTimeZone("Europe/Berlin"));
            const auto b = dayPlan(c, channels::convertSwitchings(c), again, d, QTimeZone("Europe/Berlin"));
            QCOMPARE(a->on, b->on);
            const qint64 planned = QDateTime(d, QTime(18, 0), QTimeZone("Europe/Berlin")).toSecsSinceEpoch();
            QVERIFY(std::abs(a->on.at(0).from - 1 - planned) <= 600);
            starts.insert(a->on.at(0).from - planned);
        }
        QVERIFY(starts.size() > 20);
    }

    // Bad values never reach the file: refused naming the fault, the file as it was.
    void badValuesRefused_data()
    {
        QTest::addColumn<int>("what");
        QTest::addColumn<QString>("fault");
        QTest::newRow("latitude") << 0 << "latitude 91 is out of -90..90";
        QTest::newRow("offset") << 1 << "more than 4 hours";
        QTest::newRow("backwards period") << 2 << "ends (2026-12-20) before it starts (2026-12-24)";
        QTest::newRow("presence") << 3 << "presence 61 minutes";
    }
    void badValuesRefused()
    {
        QFETCH(int, what);
        QFETCH(QString, fault);
        QTemporaryDir dir;
        const CalendarFile file(dir.filePath(QStringLiteral("c.db")));
        Settings good = berlin();
        file.save(good);
        Settings bad = good;
        bad.twilight = Twilight::Civil; // would be half of the change
        if (what == 0) bad.place.latitude = 91;
        if (what == 1) bad.outputs[0].switchings = {{sun(Anchor::Kind::Sunset, 241), Anchor::run()}};
        if (what == 2)
            bad.holidays = {{QStringLiteral("X"), QDate(2026, 12, 24), QDate(2026, 12, 20), false, 1, {}}};
        if (what == 3) bad.outputs[7].presenceMinutes = 61;
        QVERIFY_THROWS_EXCEPTION(Failure, file.save(bad));
        QVERIFY2(calendar::fault(bad).contains(fault), qPrintable(calendar::fault(bad)));
        QCOMPARE(file.load(), good);
    }

    // A damaged calendar file is named and never overwritten.
    void damagedFileKept()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("c.db"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, '\x5a'));
        f.close();
        const CalendarFile file(path);
        QVERIFY_THROWS_EXCEPTION(Failure, file.load());
        QVERIFY_THROWS_EXCEPTION(Failure, file.save(berlin()));
        QFile g(path);
        QVERIFY(g.open(QIODevice::ReadOnly));
        QCOMPARE(g.readAll(), QByteArray(4096, '\x5a'));
    }

    // `ctl place` and `ctl sun`: what a person checks against a table, and
    // what is refused without touching the file.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("running");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("sun before a place") << QStringList{"sun"} << false << 1 << "no place set";
        QTest::newRow("place out of range")
            << QStringList{"place", "91", "13"} << false << 1 << "latitude 91 is out";
        QTest::newRow("place while a switch runs that does not answer")
            << QStringList{"place", "52.52", "13.405"} << true << 3 << "does not answer";
        QTest::newRow("place") << QStringList{"place", "69.65", "18.96", "Tromso"} << false << 0
                               << "place set: Tromso (69.6500 N, 18.9600 E)";
        QTest::newRow("sun") << QStringList{"sun", "2026-03-20"} << false << 0 << "sunrise 05:43:";
        QTest::newRow("midnight sun, json") << QStringList{"sun", "2026-06-21", "--json"} << false << 0
                                            << "\"noSunset\": \"no sunset on 21 Jun (midnight sun)\"";
        QTest::newRow("sunset after midnight")
            << QStringList{"sun", "2027-05-18"} << false << 0 << "(after midnight: the evening before's)";
        QTest::newRow("bad date") << QStringList{"sun", "2026-02-30"} << false << 2 << "is not a date";
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, running);
        QFETCH(int, status);
        QFETCH(QString, says);
        static QTemporaryDir dir; // the rows build on each other: the place stays for "sun"
        const CalendarFile file(dir.filePath(QStringLiteral("Kestra3-calendar.db")));
        QString outText, errText;
        QTextStream out(&outText), err(&errText);
        QCOMPARE(runCalendarCommand(
                     args, out, err, file,
                     [&](const QString&, const QString&, const QString&) {
                         return running ? SwitchAnswer{SwitchAnswer::Outcome::Unreachable,
                                                       QStringLiteral("timed out")}
                                        : SwitchAnswer{};
                     },
                     QDate(2026, 3, 20), QTimeZone("Europe/Oslo")),
                 status);
        out.flush();
        err.flush();
        QVERIFY2((outText + errText).contains(says), qPrintable(outText + errText));
    }

    // The week and the next switchings equal the ticks with every feature on:
    // across the spring change of Berlin, sun anchors with offsets and limits,
    // twilight, presence, holidays of each kind, channels 3, 4, 7 and 8; and
    // channel 7 with its start moved past midnight.
    void weekEqualsEvaluationWithEveryFeature_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<bool>("lateStart"); // channel 7 alone, its start after midnight
        // Saturday; the clocks go on Sunday.
        QTest::newRow("spring change")
            << QByteArray("Europe/Berlin") << local(QDate(2026, 3, 28), QTime(10, 0)) << false;
        QTest::newRow("channel 7 starts after midnight")
            << QByteArray("Europe/Helsinki")
            << QDateTime(QDate(2026, 6, 17), QTime(10, 0), QTimeZone("Europe/Helsinki")) << true;
    }
    void weekEqualsEvaluationWithEveryFeature()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDateTime, now);
        QFETCH(bool, lateStart);
        useZone(zone);
        now = now.toLocalTime();
        Settings s = berlin();
        s.twilight = Twilight::Civil;
        s.outputs[2].switchings = {{sun(Anchor::Kind::Sunset, -15, parseTime("17:00:00")), Anchor::run()}};
        s.outputs[3].switchings = {{sun(Anchor::Kind::Sunrise, 30), {}},
                                   {{}, sun(Anchor::Kind::Sunset, 0, {}, parseTime("19:00:00"))}};
        s.outputs[3].presenceMinutes = 10;
        s.outputs[6].switchings = {{sun(Anchor::Kind::Sunset), sun(Anchor::Kind::Sunrise, -60)}};
        s.outputs[7].presenceMinutes = 60;
        s.holidays = {
            {QStringLiteral("off"), QDate(2026, 3, 31), QDate(2026, 4, 1), false, 0b100,
             Holiday::Action::Off},
            {QStringLiteral("on"), QDate(2026, 3, 27), QDate(2026, 3, 27), true, 0b1000, Holiday::Action::On},
            {QStringLiteral("sunday"), QDate(2026, 3, 30), QDate(2026, 3, 30), false, 0b10000000,
             Holiday::Action::AsSunday}};
        std::vector<ChannelControls> controls = {
            channel(3, "Mon Tue Wed Thu Fri", {"18:30:00"}, {"05:00:00"}),
            channel(4, "Sun Mon Tue Fri Sat", {"06:00:00", "16:00:00"}, {"02:00:00", "01:00:00"}),
            channel(7, "Fri Sat Sun", {"22:00:00"}, {"06:00:00"}, "Sat Sun Mon"),
            channel(8, "Sun Tue Wed", {"00:10:00", "08:00:00", "12:00:00", "23:50:00"},
                    {"01:00:00", "00:05:00", "00:00:00", "00:20:00"}),
        };
        if (lateStart) {
            // Sunset +4:00 comes after midnight all week; on Wednesday and Friday the next date is no finish
            // day.
            s.place = {true, 60.17, 24.94, QStringLiteral("Helsinki")};
            s.twilight = Twilight::Official;
            s.outputs[6] = {{{sun(Anchor::Kind::Sunset, 240), Anchor::run()}}, 20};
            controls = {channel(7, "Mon Wed Thu Fri Sat", {"22:00:00"}, {"05:00:00"}, "Tue Fri Sun")};
        }
        const QDate sunday = now.date().addDays(1 - kestra::weekdayNumber(now.date()));
        for (const ChannelControls& c : controls) {
            const week::ChannelWeek w = week::weekOf(c, &s, now);
            QVERIFY(w.calendar);
            std::set<qint64> probes;
            for (const Span& sp : w.dated)
                for (qint64 e : {sp.from, sp.to + 1})
                    for (int d = -2; d <= 2; ++d)
                        probes.insert(e + d);
            const qint64 first = local(sunday, QTime(0, 0)).toSecsSinceEpoch();
            const qint64 last = local(now.date().addDays(8), QTime(23, 59, 59)).toSecsSinceEpoch();
            for (qint64 t = first; t <= last; t += 97)
                probes.insert(t);
            for (qint64 t : probes) {
                if (t < first || t > last) continue;
                const QDateTime at = QDateTime::fromSecsSinceEpoch(t);
                const bool on = tickOn(c, s, at);
                const bool dated = std::any_of(w.dated.begin(), w.dated.end(),
                                               [t](const Span& sp) { return sp.from <= t && t <= sp.to; });
                if (on != dated)
                    QFAIL(qPrintable(QStringLiteral("channel %1 at %2").arg(c.channel).arg(at.toString())));
                if (at.date() < now.date() && on != w.isOn(week::weekSecondOf(at)))
                    QFAIL(qPrintable(
                        QStringLiteral("picture of channel %1 at %2").arg(c.channel).arg(at.toString())));
            }
            const week::NextSwitching next = week::nextSwitching(w, now);
            QCOMPARE(next.kind, week::NextSwitching::Kind::At);
            QCOMPARE(tickOn(c, s, next.at), next.on);
            QCOMPARE(tickOn(c, s, next.at.addSecs(-1)), !next.on);
            for (qint64 t = now.toSecsSinceEpoch(); t < next.at.toSecsSinceEpoch(); t += 61)
                QCOMPARE(tickOn(c, s, QDateTime::fromSecsSinceEpoch(t)), !next.on);
        }
    }
};

QTEST_GUILESS_MAIN(TstCalendar)
#include "tst_calendar.moc"
