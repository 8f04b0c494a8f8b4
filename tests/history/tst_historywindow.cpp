#include "model/recorder.h"
#include "tests/support/testsupport.h"
#include "views/history/historywindow.h"
#include "views/history/timeline.h"
#include "views/widgets/messenger.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

using namespace kestra;
using namespace kestra::history;

namespace {
const QDate kMonday(2026, 12, 7);
qint64 at(const QDate& d, const QString& hms)
{
    return QDateTime(d, QTime::fromString(hms, QStringLiteral("HH:mm:ss"))).toMSecsSinceEpoch();
}

QStringList column(const QTableWidget* t, int c)
{
    QStringList out;
    for (int r = 0; r < t->rowCount(); ++r)
        out << t->item(r, c)->text();
    return out;
}
} // namespace

class TstHistoryWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    FakeClock m_clock{QDateTime(kMonday.addDays(-1), QTime(23, 0, 0))};
    std::unique_ptr<port::Port> m_port;
    std::unique_ptr<Recorder> m_recorder;
    std::unique_ptr<HistoryWindow> m_window;

    void writeAt(const QDate& d, const QString& hms, quint8 byte)
    {
        m_clock.set(QDateTime::fromMSecsSinceEpoch(at(d, hms)));
        m_port->writeData(byte);
    }

private slots:
    // Sunday evening and Monday of a run (5 V is ON, so the byte is the outputs ON).
    void initTestCase()
    {
        m_port = std::make_unique<port::Port>(0x3BC, test::simulatedPortEnvironment(m_dir));
        m_recorder = std::make_unique<Recorder>(m_dir.filePath(QStringLiteral("History3BC.db")), m_clock);
        m_recorder->setSnapshotSource([] {
            Recorder::Snapshot s;
            s.fiveVoltsOn = true;
            s.causes.fill(channels::Cause::Schedule);
            s.causes[0] = channels::Cause::Input1; // output 1 follows input 1 here
            return s;
        });
        m_port->setObserver(m_recorder.get());
        writeAt(kMonday.addDays(-1), "23:00:00", 0);
        m_recorder->setPhase(Recorder::Phase::Running);
        writeAt(kMonday.addDays(-1), "23:30:00", 4); // output 3 ON over midnight
        writeAt(kMonday, "01:00:00", 0);             // off
        writeAt(kMonday, "06:00:00", 1);             // output 1 by input 1
        writeAt(kMonday, "06:00:30", 5);             // output 3 again
        writeAt(kMonday, "12:00:00", 4);             // output 1 off
        m_clock.set(QDateTime::fromMSecsSinceEpoch(at(kMonday, "12:00:10")));
        m_port->readStatus(); // first reading: all five inputs stated
        m_clock.set(QDateTime::fromMSecsSinceEpoch(at(kMonday, "18:00:00")));
        m_recorder->sync(); // opened and counted on the history's thread
        m_window = std::make_unique<HistoryWindow>(*m_recorder, m_clock, nullptr);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void cleanupTestCase()
    {
        m_window.reset();
        m_port->setObserver(nullptr);
        m_recorder.reset();
    }

    // Newest first, one row per output or input; the filter and the dates narrow it.
    void recordsNewestFirst_data()
    {
        QTest::addColumn<QString>("show");
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QStringList>("lines");
        const QStringList inputs = {"Input 1 OFF", "Input 2 OFF", "Input 3 OFF", "Input 4 OFF",
                                    "Input 5 OFF"};
        QTest::newRow("all, both days")
            << "All" << kMonday.addDays(-6)
            << inputs + QStringList{"Output 1 OFF input 1",  "Output 3 ON schedule",  "Output 1 ON input 1",
                                    "Output 3 OFF schedule", "Output 3 ON schedule",  "Output 1 OFF start-up",
                                    "Output 2 OFF start-up", "Output 3 OFF start-up", "Output 4 OFF start-up",
                                    "Output 5 OFF start-up", "Output 6 OFF start-up", "Output 7 OFF start-up",
                                    "Output 8 OFF start-up"};
        QTest::newRow("output 3, Monday only")
            << "Output 3" << kMonday << QStringList{"Output 3 ON schedule", "Output 3 OFF schedule"};
        QTest::newRow("input 4") << "Input 4" << kMonday << QStringList{"Input 4 OFF"};
    }
    void recordsNewestFirst()
    {
        QFETCH(QString, show);
        QFETCH(QDate, from);
        m_window->findChild<QDateEdit*>("dtFrom")->setDate(from);
        m_window->findChild<QDateEdit*>("dtTo")->setDate(kMonday);
        m_window->findChild<QComboBox*>("cboShow")->setCurrentText(show);
        auto* table = m_window->findChild<QTableWidget*>("tblRecords");
        QStringList lines;
        for (int r = 0; r < table->rowCount(); ++r)
            lines << QStringList{table->item(r, 1)->text(), table->item(r, 2)->text(),
                                 table->item(r, 3)->text()}
                         .join(QLatin1Char(' '))
                         .trimmed();
        QTEST(lines, "lines");
        QStringList times = column(table, 0);
        QStringList sorted = times;
        std::sort(sorted.begin(), sorted.end(), std::greater<>());
        QCOMPARE(times, sorted);
        QVERIFY(m_window->findChild<QLabel*>("lblCount")->text().startsWith(QString::number(lines.size())));
    }

    void exportWritesTheRowsShown()
    {
        m_window->findChild<QComboBox*>("cboShow")->setCurrentText("Output 1");
        const QString path = m_dir.filePath("out.csv");
        QVERIFY(m_window->exportCsv(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1 + int(m_window->rows().size()));
        QCOMPARE(lines.at(1), timeText(at(kMonday, "12:00:00")) +
                                  QStringLiteral(",%1,Output 1,OFF,input 1,4").arg(at(kMonday, "12:00:00")));

        ui::RecordingMessenger messages;
        QVERIFY(!m_window->exportCsv(m_dir.filePath("no/such/dir/out.csv")));
        QCOMPARE(messages.modals.size(), 1);
    }

    // Output 3 on Monday: from midnight (it was ON since Sunday) to 01:00, and
    // from 06:00:30 on; today's row ends at now.
    void timelineOfADay()
    {
        m_window->findChild<QDateEdit*>("dtDay")->setDate(kMonday);
        const auto& on = m_window->findChild<Timeline*>("picTimeline")->stretches();
        QCOMPARE(on[2], (QList<Stretch>{{at(kMonday, "00:00:00"), at(kMonday, "01:00:00")},
                                        {at(kMonday, "06:00:30"), at(kMonday, "18:00:00")}}));
        QCOMPARE(on[0], (QList<Stretch>{{at(kMonday, "06:00:00"), at(kMonday, "12:00:00")}}));
        QVERIFY(on[1].isEmpty());

        // Known OFF is drawn green; before the first record (Sunday 23:00)
        // and after now nothing is known, and nothing is drawn.
        auto* timeline = m_window->findChild<Timeline*>("picTimeline");
        const auto greenAt = [&](double hour) {
            const QImage image = timeline->grab().toImage();
            const int x = 28 + int(hour * (timeline->width() - 29) / 24);
            return image.pixelColor(x, 16 + 18 + 9) == QColor(0, 255, 0); // output 2's row
        };
        QVERIFY(greenAt(12.5) && !greenAt(20));
        m_window->findChild<QDateEdit*>("dtDay")->setDate(kMonday.addDays(-1));
        QVERIFY(!greenAt(12) && !greenAt(22.5) && greenAt(23.5) && greenAt(23.9));
        m_window->findChild<QDateEdit*>("dtDay")->setDate(kMonday.addDays(-2));
        QVERIFY(!greenAt(0.1) && !greenAt(12) && !greenAt(23.9));
    }

    void hoursAndTheirReset()
    {
        auto* hours = m_window->findChild<QTableWidget*>("tblHours");
        m_window->refresh();
        // Output 3: 1 h 30 min over midnight (1 h of it Monday), then 06:00:30 to 18:00:00.
        QCOMPARE(hours->item(2, 1)->text(), QStringLiteral("12:59:30")); // today
        QCOMPARE(hours->item(2, 4)->text(), QStringLiteral("13:29:30")); // since the start
        QCOMPARE(hours->item(2, 2)->text(), QStringLiteral("13:29:30")); // the week began on Sunday 00:00
        QCOMPARE(hours->item(0, 4)->text(), QStringLiteral("6:00:00"));

        hours->setCurrentCell(2, 0);
        QStringList asked;
        bool answer = false;
        m_window->setConfirm([&](const QString& q) {
            asked << q;
            return answer;
        });
        auto* reset = m_window->findChild<QPushButton*>("cmdResetHours");
        reset->click();
        QCOMPARE(hours->item(2, 4)->text(), QStringLiteral("13:29:30"));
        answer = true;
        reset->click();
        QCOMPARE(asked.size(), 2);
        QVERIFY(asked.last().contains("output 3"));
        QCOMPARE(hours->item(2, 4)->text(), QStringLiteral("0:00:00"));
        QCOMPARE(hours->item(2, 5)->text(), QStringLiteral("2026-12-07 18:00"));
        QCOMPARE(hours->item(2, 1)->text(), QStringLiteral("12:59:30")); // today is not reset
        m_clock.advanceSeconds(90);
        QTRY_COMPARE(hours->item(2, 4)->text(), QStringLiteral("0:01:30"));
        QCOMPARE(hours->item(0, 4)->text(), QStringLiteral("6:00:00"));
    }
};

QTEST_MAIN(TstHistoryWindow)
#include "tst_historywindow.moc"
