#include "base/failure.h"
#include "logic/schedule/schedule.h"
#include "tests/support/testsupport.h"

#include <QRandomGenerator>
#include <QTest>
#include <QTimeZone>

using namespace kestra;
using namespace kestra::channels;

using kestra::test::days;
using kestra::test::kDayNames;

namespace {
// The reference week: Sunday 2026-03-01 to Saturday 2026-03-07.
const QDate kSunday(2026, 3, 1);
QDateTime at(const QString& day, const QString& hms)
{
    return QDateTime(kSunday.addDays(kDayNames.indexOf(day)),
                     QTime::fromString(hms, QStringLiteral("hh:mm:ss")), QTimeZone::utc());
}

// Switchings the test leaves out repeat switching a, so they add nothing.
ChannelControls controls(int channel, Mode mode, const QString& dayNames, QStringList starts,
                         QStringList runs)
{
    ChannelControls c;
    c.channel = channel;
    c.mode = mode;
    c.days = days(dayNames);
    while (starts.size() < switchingCount(channel)) {
        starts << starts.first();
        runs << runs.first();
    }
    c.starts = starts;
    c.runs = runs;
    return c;
}

ChannelControls channel7(Mode mode, const QString& startDays, const QString& finishDays, const QString& start,
                         const QString& finish)
{
    ChannelControls c = controls(7, mode, startDays, {start}, {finish});
    c.finishDays = days(finishDays);
    return c;
}

inputs::OverrideView noInputs()
{
    inputs::OverrideView v;
    v.input1 = v.input2 = v.input3 = false;
    return v;
}

QString evaluated(const ChannelControls& c, const QDateTime& now, const inputs::OverrideView& v = noInputs())
{
    State status = State::Calculating;
    evaluate(c, v, now, status);
    return stateText(status);
}
} // namespace

class TstSchedule : public QObject
{
    Q_OBJECT
private slots:
    void kinds()
    {
        const Kind expected[] = {Kind::Single, Kind::Single, Kind::Single,      Kind::Double,
                                 Kind::Double, Kind::Single, Kind::StartFinish, Kind::Multi};
        for (int m = 1; m <= 8; ++m)
            QCOMPARE(kindOf(m), expected[m - 1]);
    }

    // Channels 1 to 6 and 8 in AUTO, no inputs.
    void schedule_data()
    {
        // clang-format off
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("ticked");
        QTest::addColumn<QStringList>("starts");
        QTest::addColumn<QStringList>("runs");
        QTest::addColumn<QString>("day");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("status");

        const QStringList noon{"12:00:00"}, halfHour{"00:30:00"}, midnight{"00:00:00"}, oneHour{"01:00:00"};
        const QStringList halfHours{"00:30:00", "00:30:00"}, longest{"23:59:59"};
        auto row = [](const char* name) -> QTestData& { return QTest::newRow(name); };

        // One switching: both ends excluded.
        row("single: before") << 3 << "Mon" << noon << halfHour << "Mon" << "11:59:59" << "OFF";
        row("single: start second") << 3 << "Mon" << noon << halfHour << "Mon" << "12:00:00" << "OFF";
        row("single: second after start") << 3 << "Mon" << noon << halfHour << "Mon" << "12:00:01" << "ON";
        row("single: second before end") << 3 << "Mon" << noon << halfHour << "Mon" << "12:29:59" << "ON";
        row("single: end second") << 3 << "Mon" << noon << halfHour << "Mon" << "12:30:00" << "OFF";
        row("single ch1: start second") << 1 << "Mon" << noon << halfHour << "Mon" << "12:00:00" << "OFF";
        row("single ch1: after start") << 1 << "Mon" << noon << halfHour << "Mon" << "12:00:01" << "ON";
        row("single ch2: start second") << 2 << "Mon" << noon << halfHour << "Mon" << "12:00:00" << "OFF";
        row("single ch2: after start") << 2 << "Mon" << noon << halfHour << "Mon" << "12:00:01" << "ON";
        row("single ch6: before end") << 6 << "Mon" << noon << halfHour << "Mon" << "12:29:59" << "ON";
        row("single ch6: end second") << 6 << "Mon" << noon << halfHour << "Mon" << "12:30:00" << "OFF";
        row("single: run 0") << 3 << "Mon" << noon << midnight << "Mon" << "12:00:00" << "OFF";
        row("single: run 1 s, start") << 3 << "Mon" << noon << QStringList{"00:00:01"} << "Mon" << "12:00:00" << "OFF";
        row("single: run 1 s, end") << 3 << "Mon" << noon << QStringList{"00:00:01"} << "Mon" << "12:00:01" << "OFF";
        row("single: run 2 s, between") << 3 << "Mon" << noon << QStringList{"00:00:02"} << "Mon" << "12:00:01" << "ON";
        row("single: start midnight") << 3 << "Mon" << midnight << oneHour << "Mon" << "00:00:00" << "OFF";
        row("single: start midnight +1") << 3 << "Mon" << midnight << oneHour << "Mon" << "00:00:01" << "ON";
        row("single: short forms") << 3 << "Mon" << QStringList{"7:05"} << QStringList{"0:00:10"} << "Mon" << "07:05:09" << "ON";

        // Two switchings: both ends included.
        const QStringList ab{"12:00:00", "20:00:00"}, abRuns{"00:30:00", "00:00:00"};
        row("double: before") << 4 << "Mon" << ab << abRuns << "Mon" << "11:59:59" << "OFF";
        row("double: start second") << 4 << "Mon" << ab << abRuns << "Mon" << "12:00:00" << "ON";
        row("double: end second") << 4 << "Mon" << ab << abRuns << "Mon" << "12:30:00" << "ON";
        row("double: after end") << 4 << "Mon" << ab << abRuns << "Mon" << "12:30:01" << "OFF";
        row("double ch5: start second") << 5 << "Mon" << ab << abRuns << "Mon" << "12:00:00" << "ON";
        row("double ch5: after end") << 5 << "Mon" << ab << abRuns << "Mon" << "12:30:01" << "OFF";
        row("double: run b 0, before") << 4 << "Mon" << ab << abRuns << "Mon" << "19:59:59" << "OFF";
        row("double: run b 0, one second") << 4 << "Mon" << ab << abRuns << "Mon" << "20:00:00" << "ON";
        row("double: run b 0, after") << 4 << "Mon" << ab << abRuns << "Mon" << "20:00:01" << "OFF";
        const QStringList touching{"12:00:00", "12:30:00"}, next{"12:00:00", "12:30:01"};
        row("double: touching, shared second") << 4 << "Mon" << touching << halfHours << "Mon" << "12:30:00" << "ON";
        row("double: touching, b end") << 4 << "Mon" << touching << halfHours << "Mon" << "13:00:00" << "ON";
        row("double: touching, after b") << 4 << "Mon" << touching << halfHours << "Mon" << "13:00:01" << "OFF";
        row("double: b next second, a end") << 4 << "Mon" << next << halfHours << "Mon" << "12:30:00" << "ON";
        row("double: b next second, b start") << 4 << "Mon" << next << halfHours << "Mon" << "12:30:01" << "ON";
        const QStringList overlapping{"08:00:00", "09:00:00"}, twoHours{"02:00:00", "02:00:00"};
        row("double: overlapping") << 4 << "Mon" << overlapping << twoHours << "Mon" << "09:30:00" << "ON";
        row("double: overlapping, end") << 4 << "Mon" << overlapping << twoHours << "Mon" << "11:00:00" << "ON";
        row("double: overlapping, after") << 4 << "Mon" << overlapping << twoHours << "Mon" << "11:00:01" << "OFF";
        row("double: longest run") << 4 << "Mon" << midnight << longest << "Mon" << "23:59:59" << "ON";
        row("single: longest run") << 3 << "Mon" << midnight << longest << "Mon" << "23:59:59" << "OFF";

        // Start plus run is not wrapped: nothing carries over midnight.
        const QStringList late{"23:00:00"}, twoH{"02:00:00"};
        row("midnight ch3: start second") << 3 << "Mon Tue" << late << twoH << "Mon" << "23:00:00" << "OFF";
        row("midnight ch3: evening") << 3 << "Mon Tue" << late << twoH << "Mon" << "23:00:01" << "ON";
        row("midnight ch3: last second") << 3 << "Mon Tue" << late << twoH << "Mon" << "23:59:59" << "ON";
        row("midnight ch3: next day ticked") << 3 << "Mon Tue" << late << twoH << "Tue" << "00:00:00" << "OFF";
        row("midnight ch3: next day clear") << 3 << "Mon" << late << twoH << "Tue" << "00:00:00" << "OFF";
        row("midnight ch3: next morning") << 3 << "Mon Tue" << late << twoH << "Tue" << "00:30:00" << "OFF";
        row("midnight ch4: last second") << 4 << "Mon Tue" << late << twoH << "Mon" << "23:59:59" << "ON";
        row("midnight ch4: next day ticked") << 4 << "Mon Tue" << late << twoH << "Tue" << "00:00:00" << "OFF";
        row("midnight ch8: start") << 8 << "Mon Tue" << late << twoH << "Mon" << "23:00:00" << "ON";
        row("midnight ch8: last second") << 8 << "Mon Tue" << late << twoH << "Mon" << "23:59:59" << "ON";
        row("midnight ch8: next day ticked") << 8 << "Mon Tue" << late << twoH << "Tue" << "00:00:00" << "OFF";
        row("midnight Sat to Sun") << 4 << "Sat Sun" << late << twoH << "Sun" << "00:00:00" << "OFF";

        // Only today's toggle counts; at midnight the new day's toggle decides.
        row("toggle: all other days") << 3 << "Sun Tue Wed Thu Fri Sat"
            << noon << halfHour << "Mon" << "12:10:00" << "OFF";
        row("toggle: yesterday's") << 3 << "Mon" << noon << halfHour << "Tue" << "12:10:00" << "OFF";
        row("toggle: none") << 3 << "" << noon << halfHour << "Mon" << "12:10:00" << "OFF";
        row("toggle: Sunday") << 3 << "Sun" << noon << halfHour << "Sun" << "12:10:00" << "ON";
        row("toggle: Saturday") << 3 << "Sat" << noon << halfHour << "Sat" << "12:10:00" << "ON";
        row("toggle: Saturday on Sunday") << 3 << "Sat" << noon << halfHour << "Sun" << "12:10:00" << "OFF";
        row("toggle: Mon last second") << 4 << "Mon" << midnight << longest << "Mon" << "23:59:59" << "ON";
        row("toggle: Tue first second") << 4 << "Mon" << midnight << longest << "Tue" << "00:00:00" << "OFF";
        row("toggle: Sun last second") << 4 << "Mon" << midnight << longest << "Sun" << "23:59:59" << "OFF";
        row("toggle: Mon first second") << 4 << "Mon" << midnight << longest << "Mon" << "00:00:00" << "ON";

        // Ten switchings: a and c apart, d and e overlapping, g and h touching, j alone.
        const QStringList starts8{"06:00:00", "06:00:00", "18:00:00", "08:00:00", "09:00:00",
                                  "06:00:00", "12:00:00", "12:30:00", "06:00:00", "15:00:00"};
        const QStringList runs8{"01:00:00", "01:00:00", "00:30:00", "02:00:00", "02:00:00",
                                "01:00:00", "00:30:00", "00:30:00", "01:00:00", "00:10:00"};
        row("ch8: before a") << 8 << "Mon" << starts8 << runs8 << "Mon" << "05:59:59" << "OFF";
        row("ch8: a start") << 8 << "Mon" << starts8 << runs8 << "Mon" << "06:00:00" << "ON";
        row("ch8: a end") << 8 << "Mon" << starts8 << runs8 << "Mon" << "07:00:00" << "ON";
        row("ch8: after a") << 8 << "Mon" << starts8 << runs8 << "Mon" << "07:00:01" << "OFF";
        row("ch8: before d") << 8 << "Mon" << starts8 << runs8 << "Mon" << "07:59:59" << "OFF";
        row("ch8: d start") << 8 << "Mon" << starts8 << runs8 << "Mon" << "08:00:00" << "ON";
        row("ch8: d and e overlap") << 8 << "Mon" << starts8 << runs8 << "Mon" << "09:30:00" << "ON";
        row("ch8: e end") << 8 << "Mon" << starts8 << runs8 << "Mon" << "11:00:00" << "ON";
        row("ch8: after e") << 8 << "Mon" << starts8 << runs8 << "Mon" << "11:00:01" << "OFF";
        row("ch8: g and h touch") << 8 << "Mon" << starts8 << runs8 << "Mon" << "12:30:00" << "ON";
        row("ch8: h end") << 8 << "Mon" << starts8 << runs8 << "Mon" << "13:00:00" << "ON";
        row("ch8: after h") << 8 << "Mon" << starts8 << runs8 << "Mon" << "13:00:01" << "OFF";
        row("ch8: j") << 8 << "Mon" << starts8 << runs8 << "Mon" << "15:05:00" << "ON";
        row("ch8: between j and c") << 8 << "Mon" << starts8 << runs8 << "Mon" << "17:59:59" << "OFF";
        row("ch8: c start") << 8 << "Mon" << starts8 << runs8 << "Mon" << "18:00:00" << "ON";
        row("ch8: c end") << 8 << "Mon" << starts8 << runs8 << "Mon" << "18:30:00" << "ON";
        row("ch8: after c") << 8 << "Mon" << starts8 << runs8 << "Mon" << "18:30:01" << "OFF";
        row("ch8: day clear") << 8 << "Tue" << starts8 << runs8 << "Mon" << "06:30:00" << "OFF";
        row("ch8: 0 + 0 at midnight") << 8 << "Mon" << midnight << midnight << "Mon" << "00:00:00" << "ON";
        row("ch8: 0 + 0 one second only") << 8 << "Mon" << midnight << midnight << "Mon" << "00:00:01" << "OFF";
        row("ch8: 0 + 0 day clear") << 8 << "Mon" << midnight << midnight << "Tue" << "00:00:00" << "OFF";
        // clang-format on
    }
    void schedule()
    {
        QFETCH(int, channel);
        QFETCH(QString, ticked);
        QFETCH(QStringList, starts);
        QFETCH(QStringList, runs);
        QFETCH(QString, day);
        QFETCH(QString, time);
        QFETCH(QString, status);
        QCOMPARE(evaluated(controls(channel, Mode::Auto, ticked, starts, runs), at(day, time)), status);
    }

    // Channel 7: start time S, finish time F, start days and finish days.
    void startFinish_data()
    {
        // clang-format off
        QTest::addColumn<QString>("startDays");
        QTest::addColumn<QString>("finishDays");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("finish");
        QTest::addColumn<QString>("day");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("status");
        auto night = [](const char* name) -> QTestData& {
            return QTest::newRow(name) << "Fri" << "Sat" << "22:00:00" << "06:00:00";
        };
        night("Fri/Sat: Fri before S") << "Fri" << "21:59:59" << "OFF";
        night("Fri/Sat: Fri at S") << "Fri" << "22:00:00" << "ON";
        night("Fri/Sat: Fri last second") << "Fri" << "23:59:59" << "ON";
        night("Fri/Sat: Sat midnight") << "Sat" << "00:00:00" << "ON";
        night("Fri/Sat: Sat at F") << "Sat" << "06:00:00" << "ON";
        night("Fri/Sat: Sat after F") << "Sat" << "06:00:01" << "OFF";
        night("Fri/Sat: Sat evening") << "Sat" << "22:00:00" << "OFF";
        night("Fri/Sat: Fri morning") << "Fri" << "00:00:00" << "OFF";
        night("Fri/Sat: Thu evening") << "Thu" << "23:00:00" << "OFF";
        night("Fri/Sat: Sun midnight") << "Sun" << "00:00:00" << "OFF";
        auto friday = [](const char* name) -> QTestData& {
            return QTest::newRow(name) << "Fri" << "Fri" << "22:00:00" << "06:00:00";
        };
        friday("Fri both rows: midnight") << "Fri" << "00:00:00" << "ON";
        friday("Fri both rows: at F") << "Fri" << "06:00:00" << "ON";
        friday("Fri both rows: after F") << "Fri" << "06:00:01" << "OFF";
        friday("Fri both rows: before S") << "Fri" << "21:59:59" << "OFF";
        friday("Fri both rows: at S") << "Fri" << "22:00:00" << "ON";
        friday("Fri both rows: last second") << "Fri" << "23:59:59" << "ON";
        friday("Fri both rows: Sat midnight") << "Sat" << "00:00:00" << "OFF";
        auto workday = [](const char* name, const char* finishDays) -> QTestData& {
            return QTest::newRow(name) << "Mon" << finishDays << "08:00:00" << "17:00:00";
        };
        workday("within a day, start day only: S", "") << "Mon" << "08:00:00" << "OFF";
        workday("within a day, start day only: noon", "") << "Mon" << "12:00:00" << "OFF";
        workday("within a day, start day only: F", "") << "Mon" << "17:00:00" << "OFF";
        workday("within a day, finish on Tue", "Tue") << "Mon" << "12:00:00" << "OFF";
        workday("within a day, both: before S", "Mon") << "Mon" << "07:59:59" << "OFF";
        workday("within a day, both: at S", "Mon") << "Mon" << "08:00:00" << "ON";
        workday("within a day, both: at F", "Mon") << "Mon" << "17:00:00" << "ON";
        workday("within a day, both: after F", "Mon") << "Mon" << "17:00:01" << "OFF";
        workday("within a day, both: other day", "Mon") << "Tue" << "12:00:00" << "OFF";
        QTest::newRow("within a day, finish day only") << "" << "Mon" << "08:00:00" << "17:00:00" << "Mon" << "12:00:00" << "OFF";
        const QString all = "Sun Mon Tue Wed Thu Fri Sat";
        QTest::newRow("S == F at S") << all << all << "08:00:00" << "08:00:00" << "Mon" << "08:00:00" << "OFF";
        QTest::newRow("S == F at midnight") << all << all << "00:00:00" << "00:00:00" << "Mon" << "00:00:00" << "OFF";
        QTest::newRow("one second before midnight") << "Mon" << "Tue" << "23:59:59" << "00:00:00" << "Mon" << "23:59:59" << "ON";
        QTest::newRow("one second at midnight") << "Mon" << "Tue" << "23:59:59" << "00:00:00" << "Tue" << "00:00:00" << "ON";
        QTest::newRow("one second after midnight") << "Mon" << "Tue" << "23:59:59" << "00:00:00" << "Tue" << "00:00:01" << "OFF";
        // clang-format on
    }
    void startFinish()
    {
        QFETCH(QString, startDays);
        QFETCH(QString, finishDays);
        QFETCH(QString, start);
        QFETCH(QString, finish);
        QFETCH(QString, day);
        QFETCH(QString, time);
        QFETCH(QString, status);
        QCOMPARE(evaluated(channel7(Mode::Auto, startDays, finishDays, start, finish), at(day, time)),
                 status);
        // With no mode selected every case is OFF.
        QCOMPARE(evaluated(channel7(Mode::None, startDays, finishDays, start, finish), at(day, time)),
                 QStringLiteral("OFF"));
    }

    // The manual modes beat schedule and inputs; inputs count only in AUTO.
    void modes_data()
    {
        // clang-format off
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<bool>("inSchedule");
        QTest::addColumn<bool>("input1");
        QTest::addColumn<int>("box"); // 0: none, 1: INP1ON, 2: INP1OFF, 5: INP3ON
        QTest::addColumn<QString>("status");
        QTest::newRow("AUTO, in schedule") << Mode::Auto << true << false << 0 << "ON";
        QTest::newRow("AUTO, out of schedule") << Mode::Auto << false << false << 0 << "OFF";
        QTest::newRow("AUTO, input switches ON") << Mode::Auto << false << true << 1 << "ON";
        QTest::newRow("AUTO, input switches OFF") << Mode::Auto << true << true << 2 << "OFF";
        QTest::newRow("ON, out of schedule") << Mode::On << false << false << 0 << "ON";
        QTest::newRow("ON beats input OFF") << Mode::On << true << true << 2 << "ON";
        QTest::newRow("ON ignores a bad hold text") << Mode::On << false << false << 5 << "ON";
        QTest::newRow("OFF, in schedule") << Mode::Off << true << false << 0 << "OFF";
        QTest::newRow("OFF beats input ON") << Mode::Off << false << true << 1 << "OFF";
        QTest::newRow("OFF ignores a bad hold text") << Mode::Off << true << false << 5 << "OFF";
        QTest::newRow("none, in schedule") << Mode::None << true << false << 0 << "OFF";
        QTest::newRow("none ignores input ON") << Mode::None << true << true << 1 << "OFF";
        QTest::newRow("none ignores a bad hold text") << Mode::None << true << false << 5 << "OFF";
        // clang-format on
    }
    void modes()
    {
        QFETCH(Mode, mode);
        QFETCH(bool, inSchedule);
        QFETCH(bool, input1);
        QFETCH(int, box);
        QFETCH(QString, status);
        inputs::OverrideView v = noInputs();
        v.input1 = input1;
        if (box > 0) v.boxes[box - 1] = inputs::kBoxSet;
        v.inp3Start = QStringLiteral("never"); // converted only in AUTO
        const auto c = controls(3, mode, "Mon", {"12:00:00"}, {"00:30:00"});
        const QDateTime now = at("Mon", inSchedule ? "12:10:00" : "14:00:00");
        for (int m : {1, 2, 3, 4, 5, 6, 8}) {
            auto other = controls(m, mode, "Mon", {"12:00:00"}, {"00:30:00"});
            QCOMPARE(evaluated(other, now, v), status);
        }
        QCOMPARE(evaluated(c, now, v), status);
    }

    // A text that does not convert ends the tick before anything is written:
    // the status keeps its last text in every mode.
    void badText_data()
    {
        // clang-format off
        QTest::addColumn<int>("channel");
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<QString>("box"); // "start" or "run", then the switching letter
        QTest::addColumn<QString>("bad");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("before");
        QTest::newRow("ch3 AUTO, run") << 3 << Mode::Auto << "run a" << "noon" << "14:00:00" << "ON";
        QTest::newRow("ch3 AUTO, start") << 3 << Mode::Auto << "start a" << "" << "12:10:00" << "OFF";
        QTest::newRow("ch3 ON, run") << 3 << Mode::On << "run a" << "24:00:00" << "12:10:00" << "OFF";
        QTest::newRow("ch3 ON keeps ON") << 3 << Mode::On << "start a" << "12:60:00" << "12:10:00" << "ON";
        QTest::newRow("ch3 OFF, run") << 3 << Mode::Off << "run a" << "12:00:60" << "12:10:00" << "ON";
        QTest::newRow("ch3 no mode") << 3 << Mode::None << "start a" << "x" << "12:10:00" << "calculating";
        QTest::newRow("ch1 AUTO, run") << 1 << Mode::Auto << "run a" << "" << "12:10:00" << "OFF";
        QTest::newRow("ch4 AUTO, start b") << 4 << Mode::Auto << "start b" << "12:3:00" << "12:10:00" << "OFF";
        QTest::newRow("ch5 AUTO, run b") << 5 << Mode::Auto << "run b" << "" << "14:00:00" << "ON";
        QTest::newRow("ch7 AUTO, finish") << 7 << Mode::Auto << "run a" << "five" << "12:10:00" << "OFF";
        QTest::newRow("ch7 ON, start") << 7 << Mode::On << "start a" << "" << "12:10:00" << "OFF";
        QTest::newRow("ch8 AUTO, run j only") << 8 << Mode::Auto << "run j" << "" << "12:10:00" << "OFF";
        QTest::newRow("ch8 AUTO, start j only") << 8 << Mode::Auto << "start j" << "25:00" << "14:00:00" << "ON";
        QTest::newRow("ch8 OFF, start e") << 8 << Mode::Off << "start e" << "" << "12:10:00" << "ON";
        // clang-format on
    }
    void badText()
    {
        QFETCH(int, channel);
        QFETCH(Mode, mode);
        QFETCH(QString, box);
        QFETCH(QString, bad);
        QFETCH(QString, time);
        QFETCH(QString, before);
        // Good texts give another status than `before`, so a kept status is
        // not a coincidence (ON mode, which is ON anyway, aside).
        ChannelControls c = channel == 7 ? channel7(mode, "Mon", "Mon", "12:00:00", "12:30:00")
                                         : controls(channel, mode, "Mon", {"12:00:00"}, {"00:30:00"});
        if (mode != Mode::On || before != QLatin1String("ON"))
            QVERIFY(evaluated(c, at("Mon", time)) != before);

        const int k = box.back().toLatin1() - 'a';
        (box.startsWith(QLatin1String("start")) ? c.starts : c.runs)[k] = bad;
        State status = test::stateFromText(before);
        try {
            evaluate(c, noInputs(), at("Mon", time), status);
            QFAIL("the tick did not fail");
        } catch (const Failure& f) {
            QCOMPARE(f.number, failure::kConversion);
        }
        QCOMPARE(stateText(status), before);
    }

    // A hold text that does not convert fails the tick after the schedule step
    // and the earlier input rules have written their result.
    void badHoldTextKeepsEarlierRules()
    {
        inputs::OverrideView v = noInputs();
        v.input1 = true;
        v.boxes[1] = inputs::kBoxSet; // INP1OFF
        v.boxes[4] = inputs::kBoxSet; // INP3ON
        v.inp3Start = QStringLiteral("10:00:00");
        v.inp3Time = QStringLiteral("00:00:30");
        v.inp3Date = QStringLiteral("not a date");
        State status = State::Calculating;
        try {
            evaluate(controls(3, Mode::Auto, "Mon", {"12:00:00"}, {"00:30:00"}), v, at("Mon", "12:10:00"),
                     status);
            QFAIL("the tick did not fail");
        } catch (const Failure& f) {
            QCOMPARE(f.number, failure::kConversion);
        }
        QCOMPARE(stateText(status), QStringLiteral("OFF"));

        v.inp3Date = QStringLiteral("2026-03-02"); // the Monday
        status = State::Calculating;
        evaluate(controls(3, Mode::Auto, "Mon", {"12:00:00"}, {"00:30:00"}), v, at("Mon", "10:00:29"),
                 status);
        QCOMPARE(stateText(status), QStringLiteral("ON"));
    }

    // The step that wrote the status last is the cause: the schedule, an input
    // rule, the hold, or the mode over all of them.
    void cause_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("inputsOn"); // digits of the inputs that read ON
        QTest::addColumn<QString>("boxes");    // INP1ON INP1OFF INP2ON INP2OFF INP3ON INP3OFF as 0/1/2
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("cause");
        const auto c = [](Cause x) { return int(x); };
        // Monday 12:00:00 + 00:30:00 on channel 3; the hold stamp is Monday 10:00:00 + 00:01:00.
        // clang-format off
        QTest::newRow("schedule on")               << "auto" << ""    << "000000" << "12:10:00" << "ON"  << c(Cause::Schedule);
        QTest::newRow("schedule off")              << "auto" << ""    << "000000" << "11:00:00" << "OFF" << c(Cause::Schedule);
        QTest::newRow("input mapped, not ON")      << "auto" << ""    << "100000" << "11:00:00" << "OFF" << c(Cause::Schedule);
        QTest::newRow("input 1 on")                << "auto" << "1"   << "100000" << "11:00:00" << "ON"  << c(Cause::Input1);
        QTest::newRow("input 1 off beats its on")  << "auto" << "1"   << "110000" << "12:10:00" << "OFF" << c(Cause::Input1);
        QTest::newRow("greyed box is no rule")     << "auto" << "1"   << "200000" << "11:00:00" << "OFF" << c(Cause::Schedule);
        QTest::newRow("input 2 beats input 1")     << "auto" << "12"  << "100100" << "12:10:00" << "OFF" << c(Cause::Input2);
        QTest::newRow("input 3 beats 1 and 2")     << "auto" << "123" << "010110" << "11:00:00" << "ON"  << c(Cause::Input3);
        QTest::newRow("input 3 within its stamp")  << "auto" << "3"   << "000010" << "10:00:30" << "ON"  << c(Cause::Input3);
        QTest::newRow("hold after release")        << "auto" << ""    << "000010" << "10:00:59" << "ON"  << c(Cause::Hold);
        QTest::newRow("hold over")                 << "auto" << ""    << "000010" << "10:01:00" << "OFF" << c(Cause::Schedule);
        QTest::newRow("mode on")                   << "on"   << "1"   << "010000" << "11:00:00" << "ON"  << c(Cause::Mode);
        QTest::newRow("no mode")                   << "none" << "1"   << "100000" << "12:10:00" << "OFF" << c(Cause::Mode);
        // clang-format on
    }
    void cause()
    {
        QFETCH(QString, mode);
        QFETCH(QString, inputsOn);
        QFETCH(QString, boxes);
        QFETCH(QString, time);
        const Mode m = mode == "auto"  ? Mode::Auto
                       : mode == "on"  ? Mode::On
                       : mode == "off" ? Mode::Off
                                       : Mode::None;
        inputs::OverrideView v;
        v.input1 = inputsOn.contains('1');
        v.input2 = inputsOn.contains('2');
        v.input3 = inputsOn.contains('3');
        for (int i = 0; i < 6; ++i)
            v.boxes[i] = boxes.at(i).digitValue();
        v.inp3Start = QStringLiteral("10:00:00");
        v.inp3Time = QStringLiteral("00:01:00");
        v.inp3Date = at("Mon", "00:00:00").date().toString(Qt::ISODate);
        State status = State::Calculating;
        Cause cause = Cause::None;
        evaluate(controls(3, m, "Mon", {"12:00:00"}, {"00:30:00"}), v, at("Mon", time), status, &cause);
        QTEST(stateText(status), "status");
        QTEST(int(cause), "cause");
    }

    // Asking for the cause changes nothing: over many random channels, inputs
    // and times the status (and a failure) is the same as without it, and a
    // failing hold rule leaves the cause of the rule whose status is kept.
    void causeChangesNothing()
    {
        QRandomGenerator rng(16);
        const auto pick = [&](const QStringList& l) { return l.at(rng.bounded(int(l.size()))); };
        const QStringList times = {"00:00:00", "06:30:00", "12:00:00", "12:00:01", "23:59:59", "0:30", "bad"};
        for (int i = 0; i < 20000; ++i) {
            ChannelControls c;
            c.channel = 1 + rng.bounded(8);
            c.mode = Mode(rng.bounded(4));
            for (int d = 0; d < 7; ++d) {
                c.days[d] = rng.bounded(2);
                c.finishDays[d] = rng.bounded(2);
            }
            for (int k = 0; k < switchingCount(c.channel); ++k) {
                c.starts << (rng.bounded(50) ? pick(times.mid(0, 6)) : pick(times));
                c.runs << (rng.bounded(50) ? pick(times.mid(0, 6)) : pick(times));
            }
            inputs::OverrideView v;
            v.input1 = rng.bounded(2);
            v.input2 = rng.bounded(10) && rng.bounded(2); // not read yet counts as OFF
            v.input3 = rng.bounded(2);
            for (int b = 0; b < 6; ++b)
                v.boxes[b] = rng.bounded(4) ? 0 : 1 + rng.bounded(2);
            v.inp3Start = pick(times);
            v.inp3Time = pick(times.mid(0, 6));
            v.inp3Date = rng.bounded(2) ? QStringLiteral("2026-03-02") : QStringLiteral("2026-03-03");
            const QDateTime now = at(kDayNames.at(rng.bounded(7)), pick(times.mid(0, 5)));

            State plain = State::Calculating, withCause = plain;
            bool plainFailed = false, causeFailed = false;
            Cause cause = Cause::None;
            try {
                evaluate(c, v, now, plain);
            } catch (const Failure&) {
                plainFailed = true;
            }
            try {
                evaluate(c, v, now, withCause, &cause);
            } catch (const Failure&) {
                causeFailed = true;
            }
            QCOMPARE(withCause, plain);
            QCOMPARE(causeFailed, plainFailed);
            QCOMPARE(cause == Cause::None, withCause == State::Calculating);
            if (c.mode != Mode::Auto && !causeFailed) QCOMPARE(cause, Cause::Mode);
        }
    }

    // A missing box text is a text that does not convert, not an unused switching.
    void missingTextFails()
    {
        ChannelControls c = controls(4, Mode::On, "Mon", {"12:00:00"}, {"00:30:00"});
        c.starts.removeLast();
        State status = State::Off;
        QVERIFY_THROWS_EXCEPTION(Failure, evaluate(c, noInputs(), at("Mon", "12:10:00"), status));
        QCOMPARE(stateText(status), QStringLiteral("OFF"));
    }
};

QTEST_GUILESS_MAIN(TstSchedule)
#include "tst_schedule.moc"
