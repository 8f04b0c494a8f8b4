#include "base/failure.h"
#include "logic/schedule/schedule.h"
#include "logic/week/intervals.h"
#include "logic/week/next.h"
#include "logic/week/pulseplan.h"
#include "logic/week/table.h"
#include "logic/week/weekmodel.h"
#include "tests/support/testsupport.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

using namespace kestra;
using namespace kestra::channels;
using namespace kestra::week;
using kestra::test::days;

namespace {
const QDateTime kSunday(QDate(2026, 3, 1), QTime(0, 0), QTimeZone::utc());

ChannelControls channel(int m, Mode mode, const QString& dayNames, QStringList starts, QStringList runs,
                        const QString& finishDays = {})
{
    ChannelControls c;
    c.channel = m;
    c.mode = mode;
    c.days = days(dayNames);
    c.finishDays = days(finishDays);
    while (starts.size() < switchingCount(m)) { // rows not needed repeat the first
        starts << starts.first();
        runs << runs.first();
    }
    c.starts = starts;
    c.runs = runs;
    return c;
}

// Time texts as people type them: the edges of the day often, other forms too.
QString randomTime(QRandomGenerator& r)
{
    static const int edges[] = {0, 1, 2, 59, 3599, 3600, 43199, 43200, 43201, 86398, 86399};
    int s = 0;
    switch (r.bounded(3)) {
    case 0:
        s = edges[r.bounded(int(std::size(edges)))];
        break;
    case 1:
        s = r.bounded(kSecondsPerDay);
        break;
    default: // quarter hours, and the second after one
        s = r.bounded(24) * 3600 + r.bounded(4) * 900 + r.bounded(2);
    }
    const int h = s / 3600, m = s / 60 % 60, sec = s % 60;
    const QLatin1Char zero('0');
    if (sec == 0 && r.bounded(4) == 0) return QStringLiteral("%1:%2").arg(h).arg(m, 2, 10, zero);
    return QStringLiteral("%1:%2:%3")
        .arg(h, r.bounded(2) ? 2 : 1, 10, zero)
        .arg(m, 2, 10, zero)
        .arg(sec, 2, 10, zero);
}

ChannelControls randomControls(int m, QRandomGenerator& r)
{
    ChannelControls c;
    c.channel = m;
    const int mode = r.bounded(10);
    c.mode = mode < 7 ? Mode::Auto : mode == 7 ? Mode::On : mode == 8 ? Mode::Off : Mode::None;
    for (int d = 0; d < 7; ++d) {
        c.days[d] = r.bounded(2);
        c.finishDays[d] = r.bounded(2);
    }
    for (int k = 0; k < switchingCount(m); ++k) {
        QString start = randomTime(r);
        // Now and then a switching that touches the one before, or starts a second after it.
        if (k > 0 && r.bounded(3) == 0) {
            const int s = parseTime(c.starts.last()) + parseTime(c.runs.last()) + r.bounded(2);
            if (s < kSecondsPerDay) start = formatTime(s);
        }
        c.starts << start;
        c.runs << randomTime(r);
    }
    if (r.bounded(30) == 0) { // one text that does not convert
        static const char* bad[] = {"", "24:00:00", "12:60:00", "noon", "12:00:61"};
        QStringList& texts = r.bounded(2) ? c.starts : c.runs;
        texts[r.bounded(int(texts.size()))] = QLatin1String(bad[r.bounded(5)]);
    }
    return c;
}

QString describe(const ChannelControls& c, int ws)
{
    QString d;
    for (int i = 0; i < 7; ++i)
        d += c.days[i] ? QLatin1Char('x') : QLatin1Char('.');
    d += QLatin1Char('/');
    for (int i = 0; i < 7; ++i)
        d += c.finishDays[i] ? QLatin1Char('x') : QLatin1Char('.');
    return QStringLiteral("channel %1 mode %2 days %3 starts %4 runs %5 at %6")
        .arg(c.channel)
        .arg(int(c.mode))
        .arg(d, c.starts.join(QLatin1Char(' ')), c.runs.join(QLatin1Char(' ')), weekSecondText(ws));
}

QString stamp(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
           QStringLiteral(" %1").arg(t.offsetFromUtc() / 3600);
}

// The program's parts as the model reads them, set by hand.
class FakeSource final : public WeekSource
{
public:
    std::array<ChannelControls, 8> controlsOf;
    std::array<std::optional<PulsePlan>, 8> pulses;
    std::array<inputs::OverrideView, 8> views;
    ChannelControls controls(int m) const override { return controlsOf[m - 1]; }
    QString location(int m) const override { return QStringLiteral("L%1").arg(m); }
    State state(int) const override { return State::Off; }
    std::optional<PulsePlan> pulse(int m, qint64) const override { return pulses[m - 1]; }
    inputs::OverrideView inputs(int m) const override { return views[m - 1]; }
};
} // namespace

class TstWeekLogic : public QObject
{
    Q_OBJECT
private slots:
    // The heart of the week picture: for random settings of every channel
    // kind, the intervals hold exactly the seconds at which a tick writes "ON",
    // every second of the week. The schedule step is asked per second; the
    // whole tick (evaluate) at every interval edge and at random seconds.
    void everySecondOfTheWeekAsTheTicksDecide()
    {
        QRandomGenerator r(20261207);
        int checked = 0;
        int frozen = 0;
        std::vector<char> expected(kSecondsPerWeek);
        const inputs::OverrideView quiet;
        for (int i = 0; i < 1100; ++i) {
            const ChannelControls c = randomControls(1 + i % 8, r);
            const ChannelWeek w = weekOf(c);
            std::vector<Switching> sw;
            try {
                sw = convertSwitchings(c);
            } catch (const Failure& f) {
                // Every tick fails, in every mode, and the status stays.
                QCOMPARE(f.number, failure::kConversion);
                QVERIFY2(w.frozen, qPrintable(describe(c, 0)));
                State status = State::On;
                QVERIFY_THROWS_EXCEPTION(
                    Failure, evaluate(c, quiet, kSunday.addSecs(r.bounded(kSecondsPerWeek)), status));
                QCOMPARE(stateText(status), QStringLiteral("ON"));
                QCOMPARE(week::nextSwitching(w, kSunday).kind, NextSwitching::Kind::Frozen);
                ++frozen;
                continue;
            }
            QVERIFY2(!w.frozen, qPrintable(describe(c, 0)));
            for (size_t k = 0; k < w.on.size(); ++k) {
                QVERIFY(w.on[k].from >= 0 && w.on[k].from <= w.on[k].to && w.on[k].to < kSecondsPerWeek);
                if (k > 0) QVERIFY2(w.on[k].from > w.on[k - 1].to + 1, "periods apart by an OFF second");
            }
            std::fill(expected.begin(), expected.end(), 0);
            for (const Interval& iv : w.on)
                std::fill(expected.begin() + iv.from, expected.begin() + iv.to + 1, 1);

            const bool heldOn = c.mode == Mode::On; // the manual mode after the schedule step
            for (int d = 0; d < 7; ++d) {
                const char* day = expected.data() + d * kSecondsPerDay;
                for (int s = 0; s < kSecondsPerDay; ++s)
                    if ((heldOn || scheduleStep(c, sw, d, s)) != bool(day[s]))
                        QFAIL(qPrintable(describe(c, weekSecond(d, s))));
            }

            std::vector<int> probes = {0, kSecondsPerWeek - 1};
            for (const Interval& iv : w.on)
                for (int e : {iv.from - 1, iv.from, iv.to, iv.to + 1})
                    probes.push_back((e + kSecondsPerWeek) % kSecondsPerWeek);
            for (int k = 0; k < 8; ++k)
                probes.push_back(r.bounded(kSecondsPerWeek));
            for (size_t k = 0; k < probes.size(); ++k) {
                const int ws = probes[k];
                State status = State::Calculating;
                evaluate(c, quiet, kSunday.addSecs(ws), status);
                if ((status == State::On) != w.isOn(ws)) QFAIL(qPrintable(describe(c, ws)));
                if (k % 4 != 0)
                    continue; // the next change of some of them, by looking ahead second by second
                std::optional<int> change;
                for (int a = 1; a < kSecondsPerWeek && !change; ++a)
                    if (expected[(ws + a) % kSecondsPerWeek] != expected[ws]) change = a;
                if (w.nextChange(ws) != change)
                    QFAIL(qPrintable(QStringLiteral("next change: ") + describe(c, ws)));
            }
            ++checked;
        }
        QVERIFY(checked >= 1000);
        QVERIFY(frozen > 0);
    }

    void nextSwitching_data()
    {
        QTest::addColumn<ChannelControls>("controls");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("at"); // local time and UTC offset in hours

        const QTimeZone utc = QTimeZone::utc();
        const QTimeZone berlin("Europe/Berlin");
        const QDate monday(2026, 3, 2);
        const QString all = QStringLiteral("Sun Mon Tue Wed Thu Fri Sat");
        const ChannelControls ch3 = channel(3, Mode::Auto, "Mon", {"12:00:00"}, {"00:30:00"});
        const ChannelControls ch4 = channel(4, Mode::Auto, "Mon", {"12:00:00"}, {"00:30:00"});
        // clang-format off
        QTest::newRow("ch3 comes on the second after its start")
            << ch3 << QDateTime(monday, QTime(11, 0), utc) << "next: Mon 12:00:01 ON" << "2026-03-02 12:00:01 0";
        QTest::newRow("ch3 goes off at start + run")
            << ch3 << QDateTime(monday, QTime(12, 0, 1), utc) << "next: Mon 12:30:00 OFF" << "2026-03-02 12:30:00 0";
        QTest::newRow("ch4 keeps its last second")
            << ch4 << QDateTime(monday, QTime(12, 30), utc) << "next: Mon 12:30:01 OFF" << "2026-03-02 12:30:01 0";
        QTest::newRow("the same day next week")
            << ch4 << QDateTime(monday, QTime(13, 0), utc) << "next: Mon 12:00:00 ON" << "2026-03-09 12:00:00 0";
        QTest::newRow("mode ON") << channel(4, Mode::On, all, {"12:00:00"}, {"00:30:00"})
            << QDateTime(monday, QTime(13, 0), utc) << "no switching this week" << "";
        QTest::newRow("no day ticked") << channel(8, Mode::Auto, "", {"12:00:00"}, {"00:30:00"})
            << QDateTime(monday, QTime(13, 0), utc) << "no switching this week" << "";
        QTest::newRow("bad text") << channel(5, Mode::On, "", {"12:00:00"}, {"0:60:00"})
            << QDateTime(monday, QTime(13, 0), utc) << "frozen at its last state" << "";
        QTest::newRow("ch7 over the end of the week")
            << channel(7, Mode::Auto, "Sat", {"22:00:00"}, {"06:00:00"}, "Sun")
            << QDateTime(QDate(2026, 3, 7), QTime(23, 0), utc) << "next: Sun 06:00:01 OFF" << "2026-03-08 06:00:01 0";
        QTest::newRow("ch7 every day, the whole day but 06:00:01 to 21:59:59")
            << channel(7, Mode::Auto, all, {"22:00:00"}, {"06:00:00"}, all)
            << QDateTime(QDate(2026, 3, 7), QTime(23, 0), utc) << "next: Sun 06:00:01 OFF" << "2026-03-08 06:00:01 0";
        // Spring in Berlin, Sunday 29 March 2026: 02:00 CET becomes 03:00 CEST.
        QTest::newRow("spring: starts inside the skipped hour, comes on at the jump")
            << channel(8, Mode::Auto, all, {"02:30:00"}, {"01:00:00"})
            << QDateTime(QDate(2026, 3, 29), QTime(1, 59), berlin) << "next: Sun 03:00:00 ON" << "2026-03-29 03:00:00 2";
        QTest::newRow("spring: wholly inside the skipped hour, does not run that day")
            << channel(3, Mode::Auto, all, {"02:15:00"}, {"00:30:00"})
            << QDateTime(QDate(2026, 3, 29), QTime(1, 59), berlin) << "next: Mon 02:15:01 ON" << "2026-03-30 02:15:01 2";
        // Autumn, Sunday 25 October 2026: 03:00 CEST becomes 02:00 CET; now is in the first pass.
        QTest::newRow("autumn: the repeated hour runs it again")
            << channel(3, Mode::Auto, all, {"02:15:00"}, {"00:30:00"})
            << QDateTime(QDate(2026, 10, 25), QTime(0, 50), utc).toTimeZone(berlin) << "next: Sun 02:15:01 ON" << "2026-10-25 02:15:01 1";
        QTest::newRow("autumn: ON again at the change")
            << channel(4, Mode::Auto, all, {"01:30:00"}, {"01:00:00"})
            << QDateTime(QDate(2026, 10, 25), QTime(0, 40), utc).toTimeZone(berlin) << "next: Sun 02:00:00 ON" << "2026-10-25 02:00:00 1";
        // clang-format on
    }
    void nextSwitching()
    {
        QFETCH(ChannelControls, controls);
        QFETCH(QDateTime, now);
        QFETCH(QString, text);
        QFETCH(QString, at);
        QVERIFY2(now.isValid(), "the tz database (Debian package tzdata) is missing");
        const NextSwitching next = week::nextSwitching(weekOf(controls), now);
        QCOMPARE(nextSwitchingText(next), text);
        QCOMPARE(next.kind == NextSwitching::Kind::At ? stamp(next.at) : QString(), at);
    }

    // A pulse is drawn and told from when its phase ends and what is selected.
    void pulseCourse()
    {
        const qint64 t = 1'800'000'000'000;
        const PulsePlan p = secondsPulse(true, 300, 1000, 2000, t); // ON, 300 ms to go, 1 s ON / 2 s OFF
        using Phases = std::vector<std::pair<qint64, qint64>>;
        QCOMPARE(p.onPhases(t, t + 6000), (Phases{{t, t + 300}, {t + 2300, t + 3300}, {t + 5300, t + 6000}}));
        QCOMPARE(p.phaseAt(t + 3300).on, false);
        QCOMPARE(p.phaseAt(t + 3300).end, t + 5300);
        // Read again in the next OFF phase: 1 ms of timer latency is the same
        // course; another selection, or 300 ms off, is not.
        QVERIFY(p.sameCourse(secondsPulse(false, 2000, 1000, 2000, t + 3301), 200));
        QVERIFY(!p.sameCourse(secondsPulse(false, 2000, 1000, 3000, t + 3301), 200));
        QVERIFY(!p.sameCourse(secondsPulse(false, 1700, 1000, 2000, t + 3301), 200));
        QCOMPARE(p.describe(), QStringLiteral("pulsing 1 s ON, 2 s OFF"));
        QCOMPARE(secondsPulse(true, 100, 500, 59500, t).describe(),
                 QStringLiteral("pulsing 0.5 s ON, 59.5 s OFF"));

        // Channel 2: 3 minutes ON, one counted, the next tick in 20 s.
        const PulsePlan q = minutesPulse(true, 20'000, 1, 3, 2, t);
        QCOMPARE(q.phaseEnd, t + 80'000);
        QCOMPARE(q.phaseAt(q.phaseEnd).end, t + 80'000 + 120'000);
        QCOMPARE(q.describe(), QStringLiteral("pulsing 3 min ON, 2 min OFF"));
        const QDateTime now = QDateTime::fromMSecsSinceEpoch(t, QTimeZone::utc());
        const NextSwitching next = week::nextSwitching(q, now);
        QCOMPARE(next.at, now.addSecs(80));
        QCOMPARE(next.on, false);
        // A selection not above the minutes counted: the phase does not end by itself.
        const PulsePlan endless = minutesPulse(true, 20'000, 3, 3, 2, t);
        QVERIFY(endless.endless);
        QCOMPARE(nextSwitchingToolTip(week::nextSwitching(endless, now)),
                 QStringLiteral("Pulsing: the running phase does not end by itself."));
        QCOMPARE(endless.onPhases(t, t + 1000), (Phases{{t, t + 1000}}));
    }

    void holdAsItStands_data()
    {
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<int>("onBox");
        QTest::addColumn<int>("offBox");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("now");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ON hold") << Mode::Auto << 1 << 0 << "10:00:10"
                                 << "00:00:30"
                                 << "10:00:39"
                                 << "ON 10:00:40";
        QTest::newRow("its last second passed") << Mode::Auto << 1 << 0 << "10:00:10"
                                                << "00:00:30"
                                                << "10:00:40"
                                                << "";
        QTest::newRow("the OFF rule comes last") << Mode::Auto << 1 << 1 << "10:00:10"
                                                 << "00:00:30"
                                                 << "10:00:20"
                                                 << "OFF 10:00:40";
        QTest::newRow("greyed box") << Mode::Auto << 2 << 0 << "10:00:10"
                                    << "00:00:30"
                                    << "10:00:20"
                                    << "";
        QTest::newRow("not in AUTO") << Mode::On << 1 << 0 << "10:00:10"
                                     << "00:00:30"
                                     << "10:00:20"
                                     << "";
        QTest::newRow("ends at midnight") << Mode::Auto << 1 << 0 << "23:59:50"
                                          << "00:01:00"
                                          << "23:59:55"
                                          << "ON 00:00:00";
        QTest::newRow("bad hold time") << Mode::Auto << 1 << 0 << "10:00:10"
                                       << "0:0"
                                       << "10:00:20"
                                       << "";
    }
    void holdAsItStands()
    {
        QFETCH(Mode, mode);
        QFETCH(int, onBox);
        QFETCH(int, offBox);
        QFETCH(QString, start);
        QFETCH(QString, time);
        QFETCH(QString, now);
        QFETCH(QString, expected);
        inputs::OverrideView v;
        v.boxes[4] = onBox;
        v.boxes[5] = offBox;
        v.inp3Start = start;
        v.inp3Time = time;
        v.inp3Date = QStringLiteral("2026-03-02");
        const QDateTime at(QDate(2026, 3, 2), QTime::fromString(now, QStringLiteral("hh:mm:ss")),
                           QTimeZone::utc());
        const std::optional<Hold> hold =
            week::holdAsItStands(channel(3, mode, "", {"00:00:00"}, {"00:00:00"}), v, at);
        QCOMPARE(hold ? QStringLiteral("%1 %2").arg(hold->on ? "ON" : "OFF", hold->until.toString("hh:mm:ss"))
                      : QString(),
                 expected);
    }

    // The table for the wall: periods in the order of the days shown (here
    // from Monday), over midnight and over the end of the week in one line.
    void csvTable()
    {
        std::vector<ChannelPicture> pictures(8);
        for (int m = 1; m <= 8; ++m) {
            pictures[m - 1].channel = m;
            pictures[m - 1].mode = Mode::Off;
            pictures[m - 1].week = weekOf(channel(m, Mode::Off, "", {"00:00:00"}, {"00:00:00"}));
        }
        pictures[0].pulse = secondsPulse(true, 100, 500, 1000, 0);
        pictures[2].location = QStringLiteral("Pump, \"east\"");
        pictures[2].week = weekOf(channel(3, Mode::Auto, "Sun Mon", {"12:00:00"}, {"00:30:00"}));
        pictures[3].week = weekOf(channel(4, Mode::Auto, "Mon", {"12:00:00"}, {"0:61:00"}));
        pictures[3].frozenStatus = QStringLiteral("ON");
        pictures[4].week = weekOf(channel(5, Mode::On, "", {"12:00:00"}, {"00:30:00"}));
        pictures[6].week = weekOf(channel(7, Mode::Auto, "Wed Sat", {"22:00:00"}, {"06:00:00"}, "Thu Sun"));
        pictures[6].week.missed[0] = QStringList{"no sunset on 21 Jun (midnight sun)"};
        pictures[6].week.missed[3] = QStringList{"no switching on 17 Jun: sunset +4:00 falls on 18 Jun",
                                                 "no sunrise on 17 Jun (midnight sun)"};
        const QStringList lines = weekCsv(pictures, 1).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.mid(0, 2), (QStringList{"Output,Location,State,From,To,Note",
                                               "1,,pulsing,,,\"pulsing 0.5 s ON, 1 s OFF\""}));
        QCOMPARE(lines.at(2), QStringLiteral("2,,OFF,,,no switching this week"));
        QCOMPARE(lines.mid(3, 2), (QStringList{"3,\"Pump, \"\"east\"\"\",ON,Mon 12:00:01,Mon 12:29:59,",
                                               "3,\"Pump, \"\"east\"\"\",ON,Sun 12:00:01,Sun 12:29:59,"}));
        QVERIFY(lines.at(5).startsWith(QStringLiteral("4,,frozen at its last state,,,\"ON: ")));
        QCOMPARE(lines.at(6), QStringLiteral("5,,ON,,,all week"));
        QCOMPARE(lines.mid(8, 2),
                 (QStringList{"7,,ON,Wed 22:00:00,Thr 06:00:00,", "7,,ON,Sat 22:00:00,Sun 06:00:00,"}));
        // The days the chart hatches, in the order of the days shown, after the periods.
        QCOMPARE(
            lines.mid(10, 2),
            (QStringList{"7,,switching lost,Wed 00:00:00,Wed 23:59:59,no switching on 17 Jun: sunset +4:00 "
                         "falls on 18 Jun; no sunrise on 17 Jun (midnight sun)",
                         "7,,switching lost,Sun 00:00:00,Sun 23:59:59,no sunset on 21 Jun (midnight sun)"}));
        QCOMPARE(lines.size(), 14); // and the empty rest after the last line break
    }

    // The pictures and the next switchings change only when something shown
    // changes: the controls, a pulse's course, or a switching that has passed.
    void modelRecomputesOnlyWhatChanged()
    {
        FakeSource source;
        for (int m = 1; m <= 8; ++m)
            source.controlsOf[m - 1] = channel(m, Mode::Off, "", {"00:00:00"}, {"00:00:00"});
        source.controlsOf[2] = channel(3, Mode::Auto, "Mon", {"12:00:00"}, {"00:00:05"});
        FakeClock clock(QDateTime(QDate(2026, 3, 2), QTime(11, 59, 58), QTimeZone::utc()));
        WeekModel model(source, clock);
        QSignalSpy pictures(&model, &WeekModel::pictureChanged);
        QSignalSpy nexts(&model, &WeekModel::nextChanged);
        const auto seen = [&] {
            QStringList s;
            for (const auto& args : pictures)
                s << QStringLiteral("picture %1").arg(args.at(0).toInt());
            for (const auto& args : nexts)
                s << QStringLiteral("next %1 %2")
                         .arg(args.at(0).toInt())
                         .arg(nextSwitchingText(model.next(args.at(0).toInt())));
            pictures.clear();
            nexts.clear();
            return s;
        };
        model.refresh();
        QCOMPARE(pictures.count(), 8);
        QCOMPARE(nexts.count(), 8);
        QCOMPARE(nextSwitchingText(model.next(3)), QStringLiteral("next: Mon 12:00:01 ON"));
        seen();

        clock.advanceSeconds(1);
        model.refresh();
        QCOMPARE(seen(), QStringList());
        clock.advanceSeconds(2); // 12:00:01: the switching shown has come
        model.refresh();
        QCOMPARE(seen(), QStringList{"next 3 next: Mon 12:00:05 OFF"});

        source.controlsOf[2].starts = QStringList{"12:00"}; // another text, the same time
        model.refresh();
        QCOMPARE(seen(), QStringList());
        source.controlsOf[2].runs = QStringList{"00:00:09"};
        model.refresh();
        QCOMPARE(seen(), (QStringList{"picture 3", "next 3 next: Mon 12:00:09 OFF"}));

        const qint64 t = clock.now().toMSecsSinceEpoch();
        source.pulses[0] = secondsPulse(true, 1000, 1000, 1000, t);
        model.refresh();
        QCOMPARE(seen(), (QStringList{"picture 1", "next 1 pulsing 1 s ON, 1 s OFF"}));
        source.pulses[0] = secondsPulse(true, 999, 1000, 1000, t + 2); // read again, 1 ms late
        model.refresh();
        QCOMPARE(seen(), QStringList());
        source.pulses[0] = secondsPulse(true, 999, 1000, 5000, t + 2); // OFF time changed
        model.refresh();
        QCOMPARE(seen(), (QStringList{"picture 1", "next 1 pulsing 1 s ON, 5 s OFF"}));

        clock.advanceSeconds(-3600); // the clock set back an hour: the switching passed comes again
        model.refresh();
        QCOMPARE(seen(), QStringList{"next 3 next: Mon 12:00:01 ON"});
    }

    // During an input 3 hold an output's next is the hold's end, to the
    // second, also while input 3 is still on and moves it; then its schedule.
    // An output without a mode says so instead.
    void nextFollowsAHoldAsItStands()
    {
        FakeSource source;
        for (int m = 1; m <= 8; ++m)
            source.controlsOf[m - 1] = channel(m, Mode::Off, "", {"00:00:00"}, {"00:00:00"});
        source.controlsOf[2] = channel(3, Mode::Auto, "Mon", {"12:00:00"}, {"01:00:00"});
        FakeClock clock(QDateTime(QDate(2026, 3, 2), QTime(10, 0, 20), QTimeZone::utc()));
        WeekModel model(source, clock);
        model.refresh();
        QCOMPARE(nextSwitchingText(model.next(3)), QStringLiteral("next: Mon 12:00:01 ON"));
        inputs::OverrideView& held = source.views[2];
        held.boxes[4] = inputs::kBoxSet;
        held.inp3Start = QStringLiteral("10:00:10");
        held.inp3Time = QStringLiteral("00:00:30");
        held.inp3Date = QStringLiteral("2026-03-02");
        model.refresh();
        QCOMPARE(nextSwitchingText(model.next(3)), QStringLiteral("held ON until 10:00:40"));
        held.inp3Start = QStringLiteral("10:00:20"); // input 3 read ON again
        model.refresh();
        QCOMPARE(nextSwitchingText(model.next(3)), QStringLiteral("held ON until 10:00:50"));
        clock.advanceSeconds(30);
        model.refresh();
        QCOMPARE(nextSwitchingText(model.next(3)), QStringLiteral("next: Mon 12:00:01 ON"));
        source.controlsOf[2].mode = Mode::None;
        model.refresh();
        QCOMPARE(nextSwitchingText(model.next(3)),
                 QStringLiteral("no mode chosen: select AUTO in its window"));
    }
};

QTEST_GUILESS_MAIN(TstWeekLogic)
#include "tst_weeklogic.moc"
