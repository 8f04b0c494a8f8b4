#include "base/clock.h"
#include "base/timetext.h"
#include "logic/schedule/schedule.h"
#include "platform/port/bits.h"
#include "tests/support/testsupport.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimeZone>
#include <set>

using namespace kestra;
using namespace kestra::channels;

using kestra::test::days;
using kestra::test::kDayNames;

namespace {
constexpr bool kZeroVoltsOn = false; // the polarity option unchecked: ON is a 0 bit
ChannelControls channel(int m, Mode mode, const QString& dayNames, QStringList starts, QStringList runs)
{
    ChannelControls c;
    c.channel = m;
    c.mode = mode;
    c.days = days(dayNames);
    while (starts.size() < switchingCount(m)) { // unused rows repeat switching a
        starts << starts.first();
        runs << runs.first();
    }
    c.starts = starts;
    c.runs = runs;
    return c;
}

inputs::OverrideView noInputs()
{
    inputs::OverrideView v;
    v.input1 = false;
    v.input2 = false;
    v.input3 = false;
    return v;
}

// One tick of every channel, then the main scan's byte.
quint8 portByte(const std::vector<ChannelControls>& channels, const QDateTime& now)
{
    std::array<bool, 8> on{};
    for (const ChannelControls& c : channels) {
        State status = State::Calculating;
        evaluate(c, noInputs(), now, status);
        on[c.channel - 1] = status == State::On;
    }
    return port::composeOutputByte(on, kZeroVoltsOn);
}

// "Tue 06:15:00" -> seconds since the start of the week (Sunday 00:00:00).
int weekSecond(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(' '));
    const QTime t = QTime::fromString(parts.at(1), QStringLiteral("hh:mm:ss"));
    return kDayNames.indexOf(parts.at(0)) * kSecondsPerDay + t.msecsSinceStartOfDay() / 1000;
}

struct OnPeriod
{
    int channel;
    QString from; // both included
    QString to;
};
} // namespace

class TstWeek : public QObject
{
    Q_OBJECT
private slots:
    // A week of 2026 in March, stepped on the fake clock: the byte at every
    // second around each switching and midnight, and once a minute between,
    // must match the hand-written ON periods, with one port write per edge.
    void wholeWeek()
    {
        const std::vector<ChannelControls> channels = {
            channel(3, Mode::Auto, "Mon Wed", {"12:00:00"}, {"00:30:00"}),
            // b runs over midnight into a ticked day and still ends at 23:59:59.
            channel(4, Mode::Auto, "Tue Wed", {"06:15:00", "23:30:00"}, {"01:00:00", "01:00:00"}),
            channel(5, Mode::On, "", {"00:00:00"}, {"00:00:00"}),
            channel(6, Mode::Off, "Sun Mon Tue Wed Thu Fri Sat", {"00:00:00"}, {"23:59:59"}),
            [] {
                ChannelControls c = channel(7, Mode::Auto, "Fri", {"22:00:00"}, {"06:00:00"});
                c.finishDays = days("Sat");
                return c;
            }(),
            // b and c overlap, d and e touch, f..j are 00:00:00 + 00:00:00.
            channel(8, Mode::Auto, "Mon Tue Thu Fri Sat",
                    {"06:30:00", "08:00:00", "09:00:00", "18:00:00", "18:30:00", "00:00:00", "00:00:00",
                     "00:00:00", "00:00:00", "00:00:00"},
                    {"01:00:00", "02:00:00", "02:00:00", "00:30:00", "00:10:00", "00:00:00", "00:00:00",
                     "00:00:00", "00:00:00", "00:00:00"}),
        };
        std::vector<OnPeriod> expected = {
            {3, "Mon 12:00:01", "Mon 12:29:59"}, {3, "Wed 12:00:01", "Wed 12:29:59"},
            {4, "Tue 06:15:00", "Tue 07:15:00"}, {4, "Tue 23:30:00", "Tue 23:59:59"},
            {4, "Wed 06:15:00", "Wed 07:15:00"}, {4, "Wed 23:30:00", "Wed 23:59:59"},
            {5, "Sun 00:00:00", "Sat 23:59:59"}, {7, "Fri 22:00:00", "Sat 06:00:00"},
        };
        for (const QString d : {"Mon", "Tue", "Thu", "Fri", "Sat"}) {
            expected.push_back({8, d + " 00:00:00", d + " 00:00:00"});
            expected.push_back({8, d + " 06:30:00", d + " 07:30:00"});
            expected.push_back({8, d + " 08:00:00", d + " 11:00:00"});
            expected.push_back({8, d + " 18:00:00", d + " 18:40:00"});
        }
        // ch3, ch4, ch7, ch8; on Thursday at 00:00:00 ch4 ends and ch8 starts in one write.
        constexpr int kExpectedWrites = 4 + 8 + 2 + 5 * 8 - 1;

        struct Span
        {
            int channel, from, to;
        };
        std::vector<Span> spans;
        std::set<int> samples;
        auto around = [&](int s) {
            for (int d = -3; d <= 3; ++d)
                if (s + d >= 0 && s + d < 7 * kSecondsPerDay) samples.insert(s + d);
        };
        for (const OnPeriod& p : expected) {
            spans.push_back({p.channel, weekSecond(p.from), weekSecond(p.to)});
            around(spans.back().from);
            around(spans.back().to + 1);
        }
        for (int d = 0; d <= 7; ++d)
            around(d * kSecondsPerDay);
        for (int s = 0; s < 7 * kSecondsPerDay; s += 60)
            samples.insert(s);

        auto expectedByte = [&](int s) {
            std::array<bool, 8> on{};
            for (const Span& sp : spans)
                if (sp.from <= s && s <= sp.to) on[sp.channel - 1] = true;
            return port::composeOutputByte(on, kZeroVoltsOn);
        };

        QElapsedTimer elapsed;
        elapsed.start();
        const QDateTime weekStart(QDate(2026, 3, 1), QTime(0, 0), QTimeZone::utc()); // a Sunday
        FakeClock clock(weekStart);
        quint8 written = portByte(channels, clock.now());
        int writes = 0;
        for (int s : samples) {
            clock.set(weekStart.addSecs(s));
            const quint8 byte = portByte(channels, clock.now());
            if (byte != expectedByte(s))
                QFAIL(qPrintable(QStringLiteral("%1: byte %2, expected %3")
                                     .arg(clock.now().toString(QStringLiteral("ddd hh:mm:ss")))
                                     .arg(byte)
                                     .arg(expectedByte(s))));
            if (byte != written) {
                written = byte;
                ++writes;
            }
        }
        QCOMPARE(writes, kExpectedWrites);
        QCOMPARE(written, quint8(255 - 16)); // only ch5, held ON, at the end of Saturday
        qDebug("%zu samples in %lld ms", samples.size(), elapsed.elapsed());
    }

    // The schedule follows the local time of day. Steps of one second across
    // the two changeover nights in Berlin (both Sundays), every channel ticked
    // on every day:
    //   ch3  02:15:00 + 00:30:00  lies inside the hour that spring skips and
    //                             autumn repeats;
    //   ch4  01:30:00 + 01:00:00  ends inside that hour;
    //   ch7  01:00:00 to 04:00:00 spans the change;
    //   ch8  02:30:00 + 01:00:00  starts inside that hour.
    // Spring: ch3 never comes on; ch4 stops at the jump to 03:00 (30 minutes
    // instead of 60); ch8 comes on at the jump and ends at 03:30:00; ch7 runs
    // through, two hours instead of three. Autumn: everything inside 02:00 to
    // 03:00 runs in both passes (ch3 twice, ch4 and ch8 resume), ch7 runs four
    // hours. Each change is one port write; nothing stays on afterwards.
    void daylightSavingTime_data()
    {
        QTest::addColumn<QDateTime>("fromUtc");
        QTest::addColumn<int>("hours");
        QTest::addColumn<QStringList>("writes"); // local time, UTC offset, byte
        // clang-format off
        QTest::newRow("spring, 29 March 2026")
            << QDateTime(QDate(2026, 3, 28), QTime(23, 0), QTimeZone::utc()) << 4
            << QStringList{"01:00:00+1 191", "01:30:00+1 183", "03:00:00+2 63", "03:30:01+2 191", "04:00:01+2 255"};
        QTest::newRow("autumn, 25 October 2026")
            << QDateTime(QDate(2026, 10, 24), QTime(22, 0), QTimeZone::utc()) << 7
            << QStringList{"01:00:00+2 191", "01:30:00+2 183", "02:15:01+2 179", "02:30:00+2 51",
                           "02:30:01+2 59",  "02:45:00+2 63",  "02:00:00+1 183", "02:15:01+1 179",
                           "02:30:00+1 51",  "02:30:01+1 59",  "02:45:00+1 63",  "03:30:01+1 191",
                           "04:00:01+1 255"};
        // clang-format on
    }
    void daylightSavingTime()
    {
        QFETCH(QDateTime, fromUtc);
        QFETCH(int, hours);
        QFETCH(QStringList, writes);
        const QTimeZone berlin("Europe/Berlin");
        QVERIFY2(berlin.isValid(), "the tz database (Debian package tzdata) is missing");

        const QString all = QStringLiteral("Sun Mon Tue Wed Thu Fri Sat");
        ChannelControls ch7 = channel(7, Mode::Auto, all, {"01:00:00"}, {"04:00:00"});
        ch7.finishDays = days(all);
        const std::vector<ChannelControls> channels = {
            channel(3, Mode::Auto, all, {"02:15:00"}, {"00:30:00"}),
            channel(4, Mode::Auto, all, {"01:30:00"}, {"01:00:00"}),
            ch7,
            channel(8, Mode::Auto, all, {"02:30:00"}, {"01:00:00"}),
        };

        FakeClock clock(fromUtc.toTimeZone(berlin));
        quint8 written = portByte(channels, clock.now());
        QCOMPARE(written, quint8(255));
        QStringList seen;
        for (int s = 1; s <= hours * 3600; ++s) {
            clock.set(fromUtc.addSecs(s).toTimeZone(berlin));
            const QDateTime now = clock.now();
            const quint8 byte = portByte(channels, now);
            if (byte != written) {
                written = byte;
                seen << QStringLiteral("%1%2%3 %4")
                            .arg(now.toString(QStringLiteral("hh:mm:ss")))
                            .arg(now.offsetFromUtc() >= 0 ? QLatin1Char('+') : QLatin1Char('-'))
                            .arg(qAbs(now.offsetFromUtc()) / 3600)
                            .arg(byte);
            }
        }
        QCOMPARE(seen, writes);
    }
};

QTEST_GUILESS_MAIN(TstWeek)
#include "tst_week.moc"
