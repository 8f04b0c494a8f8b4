#include "logic/week/weekmodel.h"
#include "tests/shell/shellrig.h"
#include "tests/support/testsupport.h"
#include "views/channels/pulseframe.h"
#include "views/week/weekchart.h"
#include "views/week/weekview.h"
#include "views/widgets/contrast.h"
#include "views/widgets/elidedlabel.h"
#include "views/widgets/messenger.h"
#include "views/widgets/timebox.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimeZone>
#include <QToolTip>

using namespace kestra;
using namespace kestra::test;
using week::weekSecond;

namespace {
// Counts the paints of a widget.
struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

// One output's controls and the calendar, as a switch's windows hold them.
class CalendarSource final : public week::WeekSource
{
public:
    channels::ChannelControls output;
    std::shared_ptr<const calendar::Settings> settings;
    channels::ChannelControls controls(int m) const override
    {
        if (m == output.channel) return output;
        channels::ChannelControls c;
        c.channel = m;
        for (int k = 0; k < channels::switchingCount(m); ++k) {
            c.starts << QStringLiteral("00:00:00");
            c.runs << QStringLiteral("00:00:00");
        }
        return c;
    }
    QString location(int) const override { return {}; }
    State state(int) const override { return State::Off; }
    std::optional<week::PulsePlan> pulse(int, qint64) const override { return std::nullopt; }
    inputs::OverrideView inputs(int) const override { return {}; }
    std::shared_ptr<const calendar::Settings> calendar() const override { return settings; }
};

void type(channels::ChannelWindow* w, const QString& box, const QString& text)
{
    QLineEdit* edit = w->findChild<ui::TimeBox*>(box)->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}
} // namespace

class TstWeekView : public QObject
{
    Q_OBJECT
private slots:
    void init() { clearPlacement(); }

    // What the main window names as the next switching is what the port then
    // does: stepping the clock a second at a time through the ticks and the
    // scan, every change of an output comes exactly at the moment its Next
    // field named just before, and every moment named comes true.
    void nextSwitchingIsWhenThePortChanges()
    {
        ui::RecordingMessenger messages;
        Rig rig(
            {{"Auto3", "True"},       {"Mon3", "True"},      {"Start3a", "12:00:05"}, {"Run3a", "00:00:10"},
             {"Auto4", "True"},       {"Mon4", "True"},      {"Start4a", "12:00:10"}, {"Run4a", "00:00:00"},
             {"Start4b", "0:00"},     {"Run4b", "0:00"},     {"Auto7", "True"},       {"Mon7", "True"},
             {"Start7a", "12:00:20"}, {"Run7a", "12:00:15"}, {"Auto8", "True"},       {"Mon8", "True"},
             {"Start8a", "12:00:25"}, {"Run8a", "00:00:02"}, {"Start8b", "12:00:28"}, {"Run8b", "0:00"}});
        QCOMPARE(rig.clock.now().date().dayOfWeek(), int(Qt::Monday));
        rig.start();
        QCOMPARE(rig.find<QLabel>("Next3")->text(), QStringLiteral("next: Mon 12:00:06 ON"));
        QVERIFY(rig.find<QLineEdit>("Status3")->toolTip().contains(
            QStringLiteral("ON on Mon 7 Dec 2026 at 12:00:06")));
        QCOMPARE(rig.find<QLabel>("Next5")->text(),
                 QStringLiteral("no mode chosen: select AUTO in its window"));
        // At the default size: the soonest under the outputs, and each in its window.
        QCOMPARE(rig.find<ui::ElidedLabel>("lblNext")->rest(),
                 QStringLiteral("Next: output 3 ON at Mon 12:00:06 \u00b7 no mode: 1, 2, 5, 6"));
        QCOMPARE(rig.main->channelWindow(3)->findChild<QLabel*>("lblNext")->text(),
                 QStringLiteral("next: Mon 12:00:06 ON"));

        // The texts show only where the window has room: the location fields keep their width.
        rig.main->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.main.get()));
        auto* next3 = rig.find<QLabel>("Next3");
        auto* location3 = rig.find<QLineEdit>("Text3");
        QVERIFY(!next3->isVisible());
        const int locationWidth = location3->width();
        rig.main->resize(rig.main->width() + next3->minimumWidth() + 20, rig.main->height());
        QTRY_VERIFY(next3->isVisible());
        QTRY_VERIFY(location3->width() >= locationWidth);
        QVERIFY(next3->geometry().left() >= rig.find<QLineEdit>("Status3")->geometry().right());

        const QDateTime start = rig.clock.now();
        QStringList announced; // "m hh:mm:ss ON"
        QStringList switched;
        const auto tickAll = [&] {
            for (int m = 1; m <= 8; ++m)
                rig.model().channel(m).tick();
            rig.model().scan(); // brings the week and the next switchings up to date
        };
        tickAll();
        quint8 byte = rig.data();
        for (int s = 1; s <= 40; ++s) {
            for (int m = 1; m <= 8; ++m) {
                const QString next = rig.find<QLabel>(QStringLiteral("Next%1").arg(m))->text();
                if (next.startsWith(QStringLiteral("next: Mon 12:00:")) &&
                    !announced.contains(QStringLiteral("%1 %2").arg(m).arg(next.mid(10))))
                    announced << QStringLiteral("%1 %2").arg(m).arg(next.mid(10));
            }
            rig.clock.set(start.addSecs(s));
            tickAll();
            const quint8 now = rig.data();
            for (int m = 1; m <= 8; ++m) {
                const quint8 bit = quint8(1 << (m - 1));
                if ((now ^ byte) & bit)
                    switched << QStringLiteral("%1 %2 %3")
                                    .arg(m)
                                    .arg(rig.clock.now().toString("hh:mm:ss"),
                                         (now & bit) ? "OFF" : "ON"); // 0 V is ON
            }
            byte = now;
        }
        QCOMPARE(switched, (QStringList{"3 12:00:06 ON", "4 12:00:10 ON", "4 12:00:11 OFF", "3 12:00:15 OFF",
                                        "7 12:00:20 ON", "8 12:00:25 ON", "8 12:00:29 OFF"}));
        std::sort(announced.begin(), announced.end(),
                  [](const QString& a, const QString& b) { return a.mid(2) < b.mid(2); });
        QCOMPARE(announced, switched);
        QVERIFY(messages.modals.isEmpty());
    }

    // The window: eight rows in the outputs' colours, the periods of unsaved
    // edits as the ticks use them, a tooltip with the exact seconds, a click
    // that opens the output, pulses as a pattern, a frozen output, and the
    // week saved as PNG and CSV. It paints only when what it shows changed.
    void viewShowsTheWeekAsItWillSwitch()
    {
        ui::RecordingMessenger messages;
        Rig rig({{"Loc3", "Pump, east"}, {"Auto4", "True"}, {"Start4a", "25:00:00"}, {"On5", "True"}});
        rig.start();
        rig.find<QAction>("mnuWeek")->trigger();
        auto* view = rig.find<week::WeekView>("frmWeek");
        QVERIFY(view && view->isVisible());
        QCOMPARE(view, rig.main->weekView());
        view->resize(1400, 600);
        week::WeekChart* chart = view->chart();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        for (int m = 1; m <= 8; ++m)
            QCOMPARE(chart->rowLabel(m), m == 3 ? QStringLiteral("3  Pump, east") : QString::number(m));

        // Edits in channel 3's window, not saved: the view follows them at the next scan.
        channels::ChannelWindow* form3 = rig.main->channelWindow(3);
        form3->findChild<QCheckBox*>("Monday")->click();
        form3->findChild<QRadioButton*>("AUTO3")->click();
        type(form3, "time1a", "12:00:00");
        type(form3, "Run1a", "00:30:00");
        const int monday1215 = weekSecond(1, 12 * 3600 + 15 * 60);
        const QPoint period = chart->pointOf(3, monday1215);
        const QString tip =
            QStringLiteral("3  Pump, east\nON from Mon 12:00:01 to Mon 12:29:59, both seconds included");
        QTRY_COMPARE(chart->toolTipAt(period), tip);
        QHelpEvent help(QEvent::ToolTip, period, chart->mapToGlobal(period));
        QApplication::sendEvent(chart, &help);
        QCOMPARE(QToolTip::text(), tip);
        QVERIFY(chart->toolTipAt(chart->pointOf(3, weekSecond(1, 13 * 3600)))
                    .startsWith(QStringLiteral("3  Pump, east\nOFF at Mon 1")));
        QCOMPARE(chart->toolTipAt(chart->pointOf(5, monday1215)), QStringLiteral("5\nON all week"));

        // A stored start that does not convert: the row says so rather than guessing.
        QCOMPARE(rig.find<QLabel>("Next4")->text(), QStringLiteral("frozen at its last state"));
        QVERIFY(chart->toolTipAt(chart->pointOf(4, monday1215))
                    .startsWith(QStringLiteral("4\nFrozen at its last state (OFF): ")));

        // Nothing changes: no paint, however often the model looks.
        PaintCounter counter;
        QApplication::processEvents();
        chart->installEventFilter(&counter);
        for (int k = 0; k < 5; ++k) {
            rig.main->weekModel()->refresh();
            QApplication::processEvents();
        }
        QCOMPARE(counter.paints, 0);

        rig.model().channel(1).startPulse();
        rig.main->weekModel()->refresh();
        QApplication::processEvents();
        QCOMPARE(counter.paints, 1);
        QVERIFY(chart->toolTipAt(chart->pointOf(1, monday1215))
                    .contains(QStringLiteral("pulsing 1 s ON, 1 s OFF")));
        QVERIFY(rig.find<QLabel>("Next1")->text().endsWith(QStringLiteral(" OFF")));

        QVERIFY(!rig.main->channelWindow(5)->isVisible());
        QTest::mouseClick(chart, Qt::LeftButton, {}, chart->pointOf(5, monday1215));
        QVERIFY(rig.main->channelWindow(5)->isVisible());

        QTemporaryDir out;
        QString error;
        QVERIFY2(view->savePng(out.filePath("week.png"), &error), qPrintable(error));
        const QImage png(out.filePath("week.png"));
        QVERIFY(!png.isNull());
        const QRect area = view->pngChartArea();
        const auto pixel = [&](int m, int ws) { return png.pixelColor(chart->pointOf(m, ws, area)); };
        QCOMPARE(pixel(3, monday1215), QColor(255, 0, 0));
        QCOMPARE(pixel(3, weekSecond(1, 13 * 3600)), QColor(Qt::white));
        QCOMPARE(pixel(5, weekSecond(4, 3 * 3600)), QColor(255, 0, 0));
        // Every row's label is on the colour of the output's button in the main
        // window, and reads on it: the text's own colour (its strongest pixel
        // against the background) at 4.5:1 or better.
        for (int m = 1; m <= 8; ++m) {
            const int y = chart->pointOf(m, 0, area).y();
            const QColor background = png.pixelColor(2, y);
            QCOMPARE(
                background,
                rig.find<QPushButton>(QStringLiteral("Output%1").arg(m))->palette().color(QPalette::Button));
            int right = area.right();
            for (int d = 0; d < 7; ++d)
                right = std::min(right, chart->pointOf(m, weekSecond(d, 0), area).x());
            double best = 1;
            for (int x = 2; x < right - 2; ++x)
                for (int dy = -8; dy <= 8; ++dy)
                    best = std::max(best, ui::contrastRatio(background, png.pixelColor(x, y + dy)));
            QVERIFY2(best >= 4.5, qPrintable(QStringLiteral("row %1: %2:1").arg(m).arg(best)));
        }
        // The pulse is a pattern of ON and OFF, not a solid bar.
        QSet<QRgb> seen;
        const QPoint from = chart->pointOf(1, weekSecond(6, 12 * 3600), area);
        for (int dx = 0; dx < 16; ++dx)
            seen.insert(png.pixel(from + QPoint(dx, 0)));
        QVERIFY(seen.contains(qRgb(255, 0, 0)) && seen.contains(qRgb(255, 255, 255)));

        QVERIFY2(view->saveCsv(out.filePath("week.csv"), &error), qPrintable(error));
        QFile csv(out.filePath("week.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QString table = QString::fromUtf8(csv.readAll());
        QVERIFY(table.contains(QStringLiteral("\r\n3,\"Pump, east\",ON,Mon 12:00:01,Mon 12:29:59,\r\n")));
        QVERIFY(table.contains(QStringLiteral("\r\n1,,pulsing,,,\"pulsing 1 s ON, 1 s OFF\"\r\n")));

        QVERIFY(!view->savePng(out.filePath("missing/week.png"), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!view->saveCsv(out.filePath("missing/week.csv"), &error));
        rig.model().channel(1).stopPulse();
    }

    // Tromsoe, where the sun does not set from late May to late July: a day
    // whose sunset-anchored switching is left out is hatched and its tool tip
    // names the note; a day that switches, or would not switch anyway, is not.
    void missingSunsetMarked_data()
    {
        QTest::addColumn<QDate>("day");
        QTest::addColumn<int>("output");
        QTest::addColumn<QString>("days");
        QTest::addColumn<QString>("finishDays");
        QTest::addColumn<QString>("marked");
        const QDate june(2027, 6, 23), april(2027, 4, 28);
        const QString all = QStringLiteral("Sun Mon Tue Wed Thu Fri Sat");
        QTest::newRow("midnight sun") << june << 3 << all << "" << all;
        QTest::newRow("midnight sun, working days") << june << 3 << "Mon Tue Wed Thu Fri"
                                                    << ""
                                                    << "Mon Tue Wed Thu Fri";
        // Channel 7 from Saturday's sunset to 01:00 on Sunday: without Sunday's
        // sunset its finish cannot tell whether it closes a period; the days
        // between neither start nor finish.
        QTest::newRow("midnight sun, over midnight") << june << 7 << "Sat"
                                                     << "Sun"
                                                     << "Sun Sat";
        QTest::newRow("sunsets at 21:30") << april << 3 << all << ""
                                          << "";
    }
    void missingSunsetMarked()
    {
        QFETCH(QDate, day);
        QFETCH(int, output);
        QFETCH(QString, days);
        QFETCH(QString, finishDays);
        QFETCH(QString, marked);
        CalendarSource source;
        source.output.channel = output;
        source.output.mode = channels::Mode::Auto;
        source.output.days = test::days(days);
        source.output.finishDays = test::days(finishDays);
        source.output.starts = QStringList{QStringLiteral("21:00:00")};
        source.output.runs =
            QStringList{output == 7 ? QStringLiteral("01:00:00") : QStringLiteral("00:30:00")};
        auto settings = std::make_shared<calendar::Settings>();
        settings->place = {true, 69.6492, 18.9553, QStringLiteral("Tromsoe")};
        calendar::SwitchingAnchors a;
        a.start = {calendar::Anchor::Kind::Sunset, 0, std::nullopt, std::nullopt};
        settings->outputs[output - 1].switchings = {a};
        source.settings = settings;
        FakeClock clock(QDateTime(day, QTime(12, 0), QTimeZone("Europe/Oslo")));
        week::WeekModel model(source, clock);
        model.refresh();
        week::WeekChart chart(model, {});
        chart.setFirstDay(0);
        chart.resize(1400, 400);
        QImage image(chart.size(), QImage::Format_RGB32);
        {
            QPainter p(&image);
            chart.paint(p, chart.rect());
        }
        const QDate sunday = day.addDays(-(day.dayOfWeek() % 7));
        for (int d = 0; d < 7; ++d) {
            const int left = chart.pointOf(output, weekSecond(d, 0)).x() + 1;
            const int right = chart.pointOf(output, weekSecond(d, kSecondsPerDay - 1)).x() - 1;
            const int y = chart.pointOf(output, 0).y();
            int hatched = 0;
            for (int x = left; x <= right; ++x)
                for (int dy = -12; dy <= 12; ++dy)
                    hatched += image.pixelColor(x, y + dy) == QColor(230, 120, 0);
            const bool expected = marked.split(' ').contains(test::kDayNames[d]);
            const QString day = QLocale::c().toString(sunday.addDays(d), QStringLiteral("d MMM"));
            QVERIFY2((hatched > 0) == expected,
                     qPrintable(QStringLiteral("%1: %2 marked pixels").arg(day).arg(hatched)));
            const QString tip = chart.toolTipAt(chart.pointOf(output, weekSecond(d, 12 * 3600)));
            QVERIFY2(tip.contains(QStringLiteral("\nno sunset on %1 (").arg(day)) == expected,
                     qPrintable(tip));
        }
    }
};

QTEST_MAIN(TstWeekView)
#include "tst_weekview.moc"
