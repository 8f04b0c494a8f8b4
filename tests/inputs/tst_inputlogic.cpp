#include "base/failure.h"
#include "logic/inputs/inputlogic.h"
#include "tests/support/testsupport.h"

#include <QTest>
#include <QTimeZone>

using namespace kestra;
using namespace kestra::inputs;

namespace {
const QDate kMonday(2026, 3, 2);

QDateTime at(const QDate& day, const QString& hms)
{
    return QDateTime(day, QTime::fromString(hms, QStringLiteral("hh:mm:ss")), QTimeZone::utc());
}

// Inputs 1..3 as the channel sees them: '1' ON, '0' OFF, 'c' not read yet.
OverrideView view(const QString& inputs, const QString& boxes)
{
    OverrideView v;
    bool* on[] = {&v.input1, &v.input2, &v.input3};
    for (int n = 1; n <= 3; ++n)
        *on[n - 1] = inputs.at(n - 1) == QLatin1Char('1');
    for (int b = 0; b < 6; ++b)
        v.boxes[b] = boxes.at(b).digitValue();
    // A hold recorded yesterday: valid texts that never hold today.
    v.inp3Start = QStringLiteral("10:00:00");
    v.inp3Time = QStringLiteral("23:59:59");
    v.inp3Date = QStringLiteral("2026-03-01");
    return v;
}
} // namespace

class TstInputLogic : public QObject
{
    Q_OBJECT
private slots:
    void inputTexts_data()
    {
        // clang-format off
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("texts");
        QTest::newRow("0x78 all OFF") << 0x78 << "INPUT 1 OFF|INPUT 2 OFF|INPUT 3 OFF|INPUT 4 OFF|INPUT 5 OFF";
        QTest::newRow("0x80 all ON")  << 0x80 << "INPUT 1 ON|INPUT 2 ON|INPUT 3 ON|INPUT 4 ON|INPUT 5 ON";
        QTest::newRow("0x87 all ON")  << 0x87 << "INPUT 1 ON|INPUT 2 ON|INPUT 3 ON|INPUT 4 ON|INPUT 5 ON";
        QTest::newRow("0x00")         << 0x00 << "INPUT 1 OFF|INPUT 2 ON|INPUT 3 ON|INPUT 4 ON|INPUT 5 ON";
        QTest::newRow("0xFF")         << 0xFF << "INPUT 1 ON|INPUT 2 OFF|INPUT 3 OFF|INPUT 4 OFF|INPUT 5 OFF";
        // clang-format on
    }
    void inputTexts()
    {
        QFETCH(int, status);
        QFETCH(QString, texts);
        const auto got = inputs::inputTexts(quint8(status));
        QCOMPARE(QStringList(got.begin(), got.end()).join(QLatin1Char('|')), texts);
    }

    void bit4SetAlwaysReadsInput4Off()
    {
        for (int s = 0; s <= 255; ++s)
            if (s & 0x10) QCOMPARE(inputs::inputTexts(quint8(s))[3], QStringLiteral("INPUT 4 OFF"));
    }

    // Rules 1 to 6: each later rule overwrites the one before.
    void precedence_data()
    {
        // clang-format off
        QTest::addColumn<QString>("inputs"); // inputs 1..3
        QTest::addColumn<QString>("boxes");  // INP1ON INP1OFF INP2ON INP2OFF INP3ON INP3OFF
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("nothing mapped keeps ON") << "111" << "000000" << "ON" << "ON";
        QTest::newRow("nothing mapped keeps OFF") << "111" << "000000" << "OFF" << "OFF";
        QTest::newRow("input 1 mapped ON") << "100" << "100000" << "OFF" << "ON";
        QTest::newRow("input 1 mapped OFF") << "100" << "010000" << "ON" << "OFF";
        QTest::newRow("input 1 mapped but not active") << "011" << "100000" << "OFF" << "OFF";
        QTest::newRow("OFF beats ON, input 1") << "100" << "110000" << "ON" << "OFF";
        QTest::newRow("OFF beats ON, input 2") << "010" << "001100" << "ON" << "OFF";
        QTest::newRow("OFF beats ON, input 3") << "001" << "000011" << "ON" << "OFF";
        QTest::newRow("input 2 ON beats input 1 OFF") << "110" << "011000" << "OFF" << "ON";
        QTest::newRow("input 2 OFF beats input 1 ON") << "110" << "100100" << "ON" << "OFF";
        QTest::newRow("input 3 ON beats 1 and 2 OFF") << "111" << "010110" << "OFF" << "ON";
        QTest::newRow("input 3 OFF beats 1 and 2 ON") << "111" << "101001" << "ON" << "OFF";
        QTest::newRow("input 3 ON, input 1 OFF") << "101" << "010010" << "OFF" << "ON";
        QTest::newRow("inactive input 3 leaves input 1") << "100" << "100001" << "OFF" << "ON";
        QTest::newRow("calculating is not active") << "ccc" << "101010" << "OFF" << "OFF";
        QTest::newRow("greyed box does not count") << "111" << "222222" << "OFF" << "OFF";
        QTest::newRow("greyed OFF box leaves ON box") << "100" << "120000" << "OFF" << "ON";
        // clang-format on
    }
    void precedence()
    {
        QFETCH(QString, inputs);
        QFETCH(QString, boxes);
        QFETCH(QString, before);
        QFETCH(QString, after);
        State status = test::stateFromText(before);
        applyOverride(true, view(inputs, boxes), at(kMonday, "12:00:00"), status);
        QCOMPARE(stateText(status), after);
    }

    void onlyInAuto()
    {
        for (const QString& before : {QStringLiteral("ON"), QStringLiteral("OFF")}) {
            OverrideView v = view("111", "111111");
            v.inp3Start = QStringLiteral("bad"); // never converted outside AUTO
            State status = test::stateFromText(before);
            applyOverride(false, v, at(kMonday, "12:00:00"), status);
            QCOMPARE(stateText(status), before);
        }
    }

    // Rules 7 and 8: input 3 released, its last ON sample recorded.
    void hold_data()
    {
        QTest::addColumn<QString>("boxes");
        QTest::addColumn<QString>("inputs");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("hold");
        QTest::addColumn<int>("dayOffset"); // now: days after the recorded date
        QTest::addColumn<QString>("now");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        // Input 3 read ON until the sample at 10:00:10, hold time 00:00:30.
        auto from10 = [](const char* name, const char* boxes, const char* inputs) -> QTestData& {
            return QTest::newRow(name) << boxes << inputs << "10:00:10"
                                       << "00:00:30";
        };
        // A hold of one minute from 23:59:50.
        auto lateHold = [](const char* name) -> QTestData& {
            return QTest::newRow(name) << "000010"
                                       << "000"
                                       << "23:59:50"
                                       << "00:01:00";
        };
        // clang-format off
        from10("before the last sample",         "000010", "000") << 0 << "10:00:09" << "OFF" << "OFF";
        from10("start included",                 "000010", "000") << 0 << "10:00:10" << "OFF" << "ON";
        from10("last second",                    "000010", "000") << 0 << "10:00:39" << "OFF" << "ON";
        from10("end excluded",                   "000010", "000") << 0 << "10:00:40" << "OFF" << "OFF";
        from10("end excluded keeps schedule ON", "000010", "000") << 0 << "10:00:40" << "ON" << "ON";
        from10("OFF mapping holds OFF",          "000001", "000") << 0 << "10:00:20" << "ON" << "OFF";
        from10("OFF mapping released",           "000001", "000") << 0 << "10:00:40" << "ON" << "ON";
        from10("both mapped: OFF holds last",    "000011", "000") << 0 << "10:00:20" << "ON" << "OFF";
        from10("hold beats input 1 OFF",         "010010", "100") << 0 << "10:00:20" << "ON" << "ON";
        from10("hold beats input 2 ON",          "001001", "010") << 0 << "10:00:20" << "ON" << "OFF";
        from10("recorded yesterday",             "000010", "000") << 1 << "10:00:20" << "OFF" << "OFF";
        from10("no box, no hold",                "000000", "000") << 0 << "10:00:20" << "OFF" << "OFF";
        QTest::newRow("hold 0 gives no run-on")
            << "000010" << "000" << "10:00:10" << "00:00:00" << 0 << "10:00:10" << "OFF" << "OFF";
        QTest::newRow("hold 0, input 3 still ON")
            << "000010" << "001" << "10:00:10" << "00:00:00" << 0 << "10:00:10" << "OFF" << "ON";
        lateHold("running at midnight, 23:59:59")         << 0 << "23:59:59" << "OFF" << "ON";
        lateHold("running at midnight ends at 00:00:00")  << 1 << "00:00:00" << "OFF" << "OFF";
        lateHold("running at midnight, not carried over") << 1 << "00:00:49" << "OFF" << "OFF";
        QTest::newRow("longest hold ends at midnight")
            << "000010" << "000" << "00:00:01" << "23:59:59" << 1 << "00:00:00" << "OFF" << "OFF";
        // clang-format on
    }
    void hold()
    {
        QFETCH(QString, boxes);
        QFETCH(QString, inputs);
        QFETCH(QString, start);
        QFETCH(QString, hold);
        QFETCH(int, dayOffset);
        QFETCH(QString, now);
        QFETCH(QString, before);
        QFETCH(QString, after);
        OverrideView v = view(inputs, boxes);
        v.inp3Start = start;
        v.inp3Time = hold;
        v.inp3Date = QStringLiteral("2026-03-02");
        State status = test::stateFromText(before);
        applyOverride(true, v, at(kMonday.addDays(dayOffset), now), status);
        QCOMPARE(stateText(status), after);
    }

    // A hold text that does not convert fails the tick with 13 and leaves what
    // rules 1 to 6 wrote; it is read only where it could matter.
    void badHoldText_data()
    {
        // clang-format off
        QTest::addColumn<QString>("boxes");
        QTest::addColumn<QString>("field"); // start, time or date
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QString>("after");
        QTest::newRow("bad start, INP3ON set") << "010010" << "start" << "" << true << "OFF";
        QTest::newRow("bad hold time, INP3OFF set") << "100001" << "time" << "24:00:00" << true << "ON";
        QTest::newRow("bad date, INP3ON set") << "000010" << "date" << "yesterday" << true << "calculating";
        QTest::newRow("bad start, no input 3 box") << "100000" << "start" << "x" << false << "ON";
        QTest::newRow("bad date, greyed input 3 box") << "000022" << "date" << "" << false << "calculating";
        // clang-format on
    }
    void badHoldText()
    {
        QFETCH(QString, boxes);
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(bool, fails);
        QFETCH(QString, after);
        OverrideView v = view("100", boxes);
        v.inp3Date = QStringLiteral("2026-03-02");
        if (field == QLatin1String("start"))
            v.inp3Start = text;
        else if (field == QLatin1String("time"))
            v.inp3Time = text;
        else
            v.inp3Date = text;
        State status = State::Calculating;
        try {
            applyOverride(true, v, at(kMonday, "12:00:00"), status);
            QVERIFY(!fails);
        } catch (const Failure& f) {
            QVERIFY(fails);
            QCOMPARE(f.number, failure::kConversion);
        }
        QCOMPARE(stateText(status), after);
    }

    // The stamp is measured by the program: a re-read takes the stored one
    // only when it is newer than what is shown and than a hold the user ended.
    void stampAfterReread_data()
    {
        QTest::addColumn<QString>("shown");  // "date time"
        QTest::addColumn<QString>("stored"); // "date time"
        QTest::addColumn<QString>("ended");  // "" when no hold was ended
        QTest::addColumn<QString>("kept");   // "shown" or "stored"
        // clang-format off
        QTest::newRow("newer shown: the hold runs on") << "2026-03-02 10:00:10" << "2026-03-02 09:00:00" << "" << "shown";
        QTest::newRow("newer stored")                  << "2026-03-02 10:00:10" << "2026-03-02 10:00:11" << "" << "stored";
        QTest::newRow("newer day stored")              << "2026-03-02 23:59:59" << "2026-03-03 00:00:00" << "" << "stored";
        QTest::newRow("a hold ended by an edit stays ended")
                                                       << "2026-03-02 00:00:00" << "2026-03-02 10:00:10" << "2026-03-02 10:00:10" << "shown";
        QTest::newRow("measured after the ended hold") << "2026-03-02 00:00:00" << "2026-03-02 10:00:11" << "2026-03-02 10:00:10" << "stored";
        QTest::newRow("shown does not convert")        << "- "                  << "2026-03-02 09:00:00" << "" << "stored";
        QTest::newRow("stored does not convert")       << "2026-03-02 10:00:10" << "2026-03-02 "         << "" << "shown";
        // clang-format on
    }
    void stampAfterReread()
    {
        QFETCH(QString, shown);
        QFETCH(QString, stored);
        QFETCH(QString, ended);
        QFETCH(QString, kept);
        const auto stamp = [](const QString& s) {
            const QStringList p = s.split(QLatin1Char(' '));
            return HoldStamp{p.value(0), p.value(1)};
        };
        std::optional<HoldStamp> endedStamp;
        if (!ended.isEmpty()) endedStamp = stamp(ended);
        const HoldStamp result = inputs::stampAfterReread(stamp(shown), stamp(stored), endedStamp);
        const HoldStamp expected = stamp(kept == "shown" ? shown : stored);
        QCOMPARE(result.date, expected.date);
        QCOMPARE(result.time, expected.time);
    }
};

QTEST_GUILESS_MAIN(TstInputLogic)
#include "tst_inputlogic.moc"
