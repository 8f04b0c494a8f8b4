#include "base/failure.h"
#include "base/timetext.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <functional>

using namespace kestra;

class TstTimeText : public QObject
{
    Q_OBJECT
private slots:
    void times_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("seconds"); // -1: does not convert
        QTest::newRow("hh:mm:ss") << "12:30:05" << 12 * 3600 + 30 * 60 + 5;
        QTest::newRow("h:mm:ss") << "7:05:09" << 7 * 3600 + 5 * 60 + 9;
        QTest::newRow("h:mm") << "7:05" << 7 * 3600 + 5 * 60;
        QTest::newRow("midnight") << "00:00:00" << 0;
        QTest::newRow("last second") << "23:59:59" << 86399;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("word") << "noon" << -1;
        QTest::newRow("24 hours") << "24:00:00" << -1;
        QTest::newRow("60 minutes") << "12:60:00" << -1;
        QTest::newRow("60 seconds") << "12:00:60" << -1;
        QTest::newRow("letter over a digit") << "12:3a:00" << -1;
        QTest::newRow("one minute digit") << "12:3:00" << -1;
        QTest::newRow("negative") << "-1:00:00" << -1;
    }
    void times()
    {
        QFETCH(QString, text);
        QFETCH(int, seconds);
        if (seconds < 0) {
            QVERIFY(!tryParseTime(text));
            try {
                parseTime(text);
                QFAIL("no failure");
            } catch (const Failure& f) {
                QCOMPARE(f.number, 13);
            }
        } else {
            QCOMPARE(parseTime(text), seconds);
        }
    }

    // The conversion is a hand-written scan (it runs for every time box twice a
    // second); it must accept exactly the forms of this pattern, and nothing else.
    void timesMatchTheirPatternOverRandomTexts()
    {
        const QRegularExpression form(QStringLiteral("^(\\d{1,2}):(\\d{2})(?::(\\d{2}))?$"));
        const QString alphabet = QStringLiteral("0123456789:: 9\t5x\u0663");
        QRandomGenerator rng(20261208);
        for (int k = 0; k < 200000; ++k) {
            QString text;
            for (int len = rng.bounded(11); len > 0; --len)
                text += alphabet.at(rng.bounded(alphabet.size()));
            std::optional<int> expected;
            if (const auto m = form.match(text.trimmed()); m.hasMatch()) {
                const int h = m.captured(1).toInt(), min = m.captured(2).toInt();
                const int sec = m.capturedLength(3) ? m.captured(3).toInt() : 0;
                if (h <= 23 && min <= 59 && sec <= 59) expected = h * 3600 + min * 60 + sec;
            }
            QVERIFY2(kestra::tryParseTime(text) == expected, qPrintable(text));
        }
    }

    void formatsRoundTrip()
    {
        for (int s : {0, 1, 59, 3600, 45296, 86399})
            QCOMPARE(parseTime(formatTime(s)), s);
        QCOMPARE(formatTime(45296), QStringLiteral("12:34:56"));
    }

    void flags()
    {
        QCOMPARE(tryParseFlag("True"), std::optional<bool>(true));
        QCOMPARE(tryParseFlag("FALSE"), std::optional<bool>(false));
        QCOMPARE(tryParseFlag("0"), std::optional<bool>(false));
        QCOMPARE(tryParseFlag("-1"), std::optional<bool>(true));
        QVERIFY(!tryParseFlag(""));
        QVERIFY(!tryParseFlag("yes"));
        QCOMPARE(flagText(true), QStringLiteral("True"));
    }

    // A stored value of any length is quoted short in the message about it.
    void longTextsQuotedShort_data()
    {
        QTest::addColumn<int>("parser");
        QTest::newRow("time") << 0;
        QTest::newRow("date") << 1;
        QTest::newRow("flag") << 2;
        QTest::newRow("number") << 3;
    }
    void longTextsQuotedShort()
    {
        QFETCH(int, parser);
        const QString text = QStringLiteral("7") + QString(1 << 20, QLatin1Char('x'));
        const std::function<void()> parse[] = {[&] { parseTime(text); }, [&] { parseDate(text); },
                                               [&] { parseFlag(text); }, [&] { parseNumber(text); }};
        try {
            parse[parser]();
            QFAIL("no failure");
        } catch (const Failure& f) {
            QCOMPARE(f.number, 13);
            QVERIFY2(f.description.size() < 120, qPrintable(f.description.left(200)));
            QVERIFY(f.description.contains(QStringLiteral("\"7xxx")));
            QVERIFY(f.description.contains(QStringLiteral("1048577 characters")));
        }
        try {
            parseTime(QStringLiteral("noon"));
        } catch (const Failure& f) {
            QCOMPARE(f.description, QStringLiteral("Type mismatch: \"noon\" is not a time"));
        }
    }

    void datesConvertBackExactly()
    {
        const QDate d(2026, 3, 29);
        QCOMPARE(parseDate(formatDate(d)), d);
        QVERIFY(!tryParseDate(""));
        QVERIFY(!tryParseDate("2026-02-30"));
    }
};

QTEST_GUILESS_MAIN(TstTimeText)
#include "tst_timetext.moc"
