#include "base/buildconfig.h"
#include "base/clock.h"
#include "base/paths.h"
#include "base/timetext.h"
#include "platform/port/port.h"
#include "platform/port/simulated.h"
#include "shell/aboutwindow.h"
#include "shell/mainwindow.h"
#include "shell/placement.h"
#include "shell/splash.h"
#include "shellrig.h"
#include "storage/store/database.h"
#include "views/channels/channelwindow.h"
#include "views/inputs/inputswindow.h"
#include "views/widgets/contrast.h"
#include "views/widgets/elidedlabel.h"
#include "views/widgets/messenger.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <QtTest/qtestspontaneevent.h>

using namespace kestra;
using namespace kestra::test;

// The help page is a resource of the shell library.
static void initShellResources()
{
    Q_INIT_RESOURCE(shell);
}

class TstMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        initShellResources();
        QCOMPARE(ensureProgramDirectory(), QString());
    }
    void init() { clearPlacement(); }

    void startupPutsTheStoredByteBackBeforeTheFirstScan()
    {
        ui::RecordingMessenger messages;
        Rig rig({{"output", "5"}});
        rig.start();
        QCOMPARE(rig.control(), quint8(2));
        QCOMPARE(rig.data(), quint8(5));
        QCOMPARE(rig.port->writeCount(port::Register::Data), 1);
        rig.model().scan();
        QCOMPARE(rig.data(), quint8(255)); // every channel OFF, 0 V is ON
        QCOMPARE(rig.model().outputText(), QStringLiteral("255"));
        QVERIFY(messages.modals.isEmpty());
    }

    void unknownStoredByteIsNotWritten_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("empty") << "";
        QTest::newRow("word") << "abc";
        QTest::newRow("too big") << "256";
        QTest::newRow("negative") << "-1";
    }
    void unknownStoredByteIsNotWritten()
    {
        QFETCH(QString, stored);
        ui::RecordingMessenger messages;
        Rig rig({{"output", stored}});
        rig.start();
        QCOMPARE(rig.control(), quint8(2));
        QCOMPARE(rig.port->writeCount(port::Register::Data), 0);
        rig.model().scan();
        QCOMPARE(rig.data(), quint8(255));
        rig.model().scan();
        QCOMPARE(rig.port->writeCount(port::Register::Data), 1);
        QVERIFY(messages.modals.isEmpty());
        rig.stop();
        QCOMPARE(rig.stored("output"), QStringLiteral("255"));
    }

    void scanWritesOnlyChangesAndFollowsThePolarity()
    {
        ui::RecordingMessenger messages;
        Rig rig({{"output", "255"}});
        rig.start();
        rig.model().scan();
        rig.model().scan();
        QCOMPARE(rig.port->writeCount(port::Register::Data), 1); // start-up only
        QCOMPARE(rig.find<QLineEdit>("Status3")->text(), QStringLiteral("OFF"));
        QCOMPARE(rig.find<QLineEdit>("Status3")->palette().color(QPalette::Base), QColor(0, 255, 0));

        // Checking the box while the About window is open changes the byte at the next scan.
        auto* sport = rig.main->aboutWindow()->findChild<QCheckBox*>("sport");
        sport->click();
        rig.model().scan();
        QCOMPARE(rig.data(), quint8(0));
        QCOMPARE(rig.port->writeCount(port::Register::Data), 2);
        sport->click();
        rig.model().scan();
        QCOMPARE(rig.data(), quint8(255));
    }

    void inputTextsAreCopiedVerbatim()
    {
        Rig rig;
        rig.start();
        rig.model().scan();
        for (int n = 1; n <= 5; ++n)
            QCOMPARE(rig.find<QLineEdit>(QString("INPUT%1").arg(n))->text(),
                     rig.model().inputs().levelText(n));
    }

    void shutdownLeavesEveryOutputOff_data()
    {
        QTest::addColumn<QString>("fiveVolts");
        QTest::addColumn<int>("allOff");
        QTest::newRow("0 V is ON") << "False" << 255;
        QTest::newRow("5 V is ON") << "True" << 0;
    }
    void shutdownLeavesEveryOutputOff()
    {
        QFETCH(QString, fiveVolts);
        QFETCH(int, allOff);
        Rig rig({{"SOURCEPORT", fiveVolts}, {"output", "77"}});
        rig.start();
        QCOMPARE(rig.data(), quint8(77));
        rig.stop();
        QCOMPARE(rig.data(), quint8(allOff));
        QCOMPARE(rig.control(), quint8(0));
    }

    // Closing the window by hand or File, Exit asks before every output goes
    // OFF, and "Keep running" keeps them; a close from the program (a signal,
    // the session's end) never asks, since nobody may be there to answer.
    void closingAsksFirstButNeverForASignal()
    {
        ui::RecordingMessenger messages;
        Rig rig({{"On3", "True"}});
        rig.start();
        rig.main->show();
        rig.model().channel(3).tick();
        rig.model().scan();
        QCOMPARE(rig.data(), quint8(0xFB));
        QCloseEvent byHand;
        QSpontaneKeyEvent::setSpontaneous(&byHand);
        qApp->notify(rig.main.get(), &byHand); // as the window system sends it
        QCOMPARE(messages.questions,
                 QStringList{"Stop the time switch? All 8 outputs will be switched OFF."});
        QVERIFY(!byHand.isAccepted());
        rig.find<QAction>("mnuExit")->trigger();
        QCOMPARE(messages.questions.size(), 2);
        QCOMPARE(rig.data(), quint8(0xFB));
        QCOMPARE(rig.control(), quint8(2));

        messages.answer = true;
        rig.find<QAction>("mnuExit")->trigger();
        QCOMPARE(messages.questions.size(), 3);
        QCOMPARE(rig.data(), quint8(0xFF));
        QCOMPARE(rig.control(), quint8(0));

        messages.answer = false;
        rig.start();
        rig.main->close(); // as the signal path closes it
        QCOMPARE(rig.control(), quint8(0));
        rig.start();
        rig.main->sessionEnding();
        qApp->notify(rig.main.get(), &byHand);
        QCOMPARE(rig.control(), quint8(0));
        QCOMPARE(messages.questions.size(), 3);
    }

    void polarityOptionSurvivesOkAndRestart()
    {
        Rig rig;
        rig.start();
        shell::AboutWindow* about = rig.main->aboutWindow();
        QVERIFY(!rig.model().fiveVoltsOn());
        about->findChild<QCheckBox*>("sport")->click();
        about->findChild<QPushButton*>("cmdOK")->click();
        QVERIFY(!rig.model().isAboutLoaded());
        QCOMPARE(rig.stored("SOURCEPORT"), QStringLiteral("True"));
        rig.model().scan(); // loads it again
        QVERIFY(rig.model().isAboutLoaded());
        rig.restart();
        QVERIFY(rig.model().fiveVoltsOn());
    }

    void polarityThatIsNoFlagReadsUncheckedAndIsStoredFalse()
    {
        Rig rig({{"SOURCEPORT", ""}});
        rig.start();
        QVERIFY(!rig.model().fiveVoltsOn());
        rig.stop();
        QCOMPARE(rig.stored("SOURCEPORT"), QStringLiteral("False"));
    }

    void locationTextsAreStoredAtShutdown()
    {
        Rig rig;
        rig.start();
        QTest::keyClicks(rig.find<QLineEdit>("Text3"), "Garden pump");
        QTest::keyClicks(rig.find<QLineEdit>("Text13"), "Door bell");
        rig.stop();
        QCOMPARE(rig.stored("Loc3"), QStringLiteral("Garden pump"));
        QCOMPARE(rig.stored("Loc13"), QStringLiteral("Door bell"));
    }

    // Stored when the edit ends (Enter, or the focus leaving), not only at the
    // end of the program: a crash keeps it and the port panel shows it at once.
    void locationTextIsStoredWhenTheEditEnds()
    {
        Rig rig;
        rig.start();
        auto* field = rig.find<QLineEdit>("Text4");
        QTest::keyClicks(field, "Porch");
        QVERIFY(rig.stored("Loc4") != QStringLiteral("Porch"));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(rig.stored("Loc4"), QStringLiteral("Porch"));
        rig.stop();
        QCOMPARE(rig.stored("Loc4"), QStringLiteral("Porch"));
    }

    void placementDefaultsAndStore()
    {
        Rig rig;
        rig.start();
        const shell::Placement first = shell::readPlacement("KESTRA3");
        QCOMPARE(first.left, 1000.0);
        QCOMPARE(rig.main->pos(), QPoint(67, 67)); // 1000 twips at 96 dpi
        rig.main->move(150, 90);
        rig.main->resize(600, 640);
        rig.stop();
        const shell::Placement p = shell::readPlacement("KESTRA3");
        QCOMPARE(p.left, 2250.0);
        QCOMPARE(p.top, 1350.0);
        QCOMPARE(p.width, 9000.0);
        QCOMPARE(p.height, 9600.0);
        QSettings s(QSettings::IniFormat, QSettings::UserScope, "KESTRA3");
        QCOMPARE(s.value("Settings/MainLeft").toString(), QStringLiteral("2250"));
    }

    // The first start opens at the default height unless the content needs
    // more; what is shown is stored, and start, exit, start, exit keeps it.
    void firstPlacementIsWhatIsShownAndStaysSo()
    {
        Rig rig;
        rig.start();
        rig.main->show();
        const QRect shown = rig.main->geometry();
        QCOMPARE(shown.height(), std::max(433, rig.main->minimumSizeHint().height()));
        rig.stop();
        const shell::Placement first = shell::readPlacement("KESTRA3");
        QCOMPARE(first.height, double(shown.height() * 15));
        for (int run = 0; run < 2; ++run) {
            rig.start();
            rig.main->show();
            QCOMPARE(rig.main->geometry(), shown);
            rig.stop();
            const shell::Placement again = shell::readPlacement("KESTRA3");
            QCOMPARE(again.left, first.left);
            QCOMPARE(again.top, first.top);
            QCOMPARE(again.width, first.width);
            QCOMPARE(again.height, first.height);
        }
    }

    void minimisedCloseStoresNothing()
    {
        shell::writePlacement("KESTRA3", {1500, 1500, 9000, 9000});
        Rig rig;
        rig.start();
        rig.main->show();
        rig.main->showMinimized();
        QTRY_VERIFY(rig.main->isMinimized());
        rig.stop();
        const shell::Placement p = shell::readPlacement("KESTRA3");
        QCOMPARE(p.left, 1500.0);
        QCOMPARE(p.width, 9000.0);
    }

    void placementThatIsNoNumberUsesTheDefaultAndStartupGoesOn()
    {
        {
            QSettings s(QSettings::IniFormat, QSettings::UserScope, "KESTRA3");
            s.setValue("Settings/MainTop", "abc");
            s.setValue("Settings/MainLeft", "3000");
        }
        ui::RecordingMessenger messages;
        Rig rig({{"output", "9"}});
        rig.start();
        QCOMPARE(rig.main->pos(), QPoint(200, 67));
        QCOMPARE(rig.data(), quint8(9));
        QCOMPARE(rig.control(), quint8(2));
        QVERIFY(messages.modals.isEmpty());
    }

    // Esc closes an output's window as its close button does (like its OK).
    void escapeClosesAnOutputWindow()
    {
        Rig rig;
        rig.start();
        rig.main->show();
        rig.find<QPushButton>("Output3")->click();
        QWidget* form = rig.main->channelWindow(3);
        QVERIFY(QTest::qWaitForWindowExposed(form));
        QTest::keyClick(form, Qt::Key_Escape);
        QTRY_VERIFY(!form->isVisible());
    }

    void commandsShowOneWindowEach()
    {
        Rig rig;
        rig.start();
        rig.main->show();
        auto* button = rig.find<QPushButton>("Output3");
        QCOMPARE(button->toolTip(), QStringLiteral("Set 3 Time"));
        QCOMPARE(rig.find<QPushButton>("Output6")->toolTip(), QStringLiteral("Set  6 Time"));
        button->click();
        button->click();
        QCOMPARE(rig.main->findChildren<QWidget*>("Form3").size(), 1);
        QVERIFY(rig.main->channelWindow(3)->isVisible());
        rig.find<QPushButton>("INPUTS")->click();
        QVERIFY(rig.main->findChild<QWidget*>("Form9")->isVisible());
    }

    // Every control a person can reach has a name a screen reader can say, and
    // a description where it has a tool tip; fields that only show a state are
    // left out of the tab order.
    void controlsAreNamed_data()
    {
        QTest::addColumn<QString>("window");
        QTest::newRow("frmMain") << "frmMain";
        for (int m = 1; m <= 9; ++m)
            QTest::addRow("Form%d", m) << QStringLiteral("Form%1").arg(m);
        QTest::newRow("frmAbout") << "frmAbout";
    }
    void controlsAreNamed()
    {
        QFETCH(QString, window);
        Rig rig;
        rig.start();
        QWidget* w = window == "frmMain" ? rig.main.get() : rig.find<QWidget>(window);
        QVERIFY(w);
        int named = 0;
        for (QWidget* c : w->findChildren<QWidget*>()) {
            if (c->window() != w || !c->isVisibleTo(w) || c->focusProxy()) continue;
            // Qt's own parts (the menu bar's overflow button) speak through their owner.
            if (c->objectName().startsWith(QLatin1String("qt_"))) continue;
            const QString what = QStringLiteral("%1 %2").arg(c->metaObject()->className(), c->objectName());
            if (auto* e = qobject_cast<QLineEdit*>(c); e && e->isReadOnly()) {
                QVERIFY2(e->focusPolicy() == Qt::NoFocus, qPrintable(what));
                QVERIFY2(!e->accessibleName().isEmpty(), qPrintable(what));
                continue;
            }
            const bool control = qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) ||
                                 qobject_cast<QComboBox*>(c) || qobject_cast<QAbstractItemView*>(c);
            if (!control) continue;
            QVERIFY2(!c->accessibleName().isEmpty(), qPrintable(what));
            if (!c->toolTip().isEmpty()) QCOMPARE(c->accessibleDescription(), c->toolTip());
            ++named;
        }
        QVERIFY(named > 0);
    }

    // The output buttons show their colours exactly, with text that reads at
    // 4.5:1 or better, and a focused button keeps its colour with a wider edge
    // in the text colour.
    void outputButtonsAreExactAndReadable_data()
    {
        QTest::addColumn<int>("m");
        QTest::addColumn<QColor>("colour");
        const QList<QColor> colours = {{128, 255, 255}, {255, 192, 128}, {0, 0, 192},     {128, 255, 128},
                                       {128, 128, 255}, {255, 128, 128}, {192, 192, 192}, {255, 255, 0}};
        for (int m = 1; m <= 8; ++m)
            QTest::addRow("Output%d", m) << m << colours[m - 1];
    }
    void outputButtonsAreExactAndReadable()
    {
        QFETCH(int, m);
        QFETCH(QColor, colour);
        Rig rig;
        rig.start();
        rig.main->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.main.get()));
        auto* button = rig.find<QPushButton>(QStringLiteral("Output%1").arg(m));
        const QPalette p = button->palette();
        QCOMPARE(p.color(QPalette::Button), colour);
        QVERIFY(ui::contrastRatio(p.color(QPalette::ButtonText), colour) >= 4.5);

        const auto pixel = [&](int x) {
            return button->grab().toImage().pixelColor(x, button->height() / 2);
        };
        rig.find<QLineEdit>("Text1")->setFocus();
        QTRY_VERIFY(!button->hasFocus());
        QCOMPARE(pixel(4), colour);
        QCOMPARE(pixel(1), colour);
        button->setFocus();
        QTRY_VERIFY(button->hasFocus());
        QCOMPARE(pixel(4), colour);
        QCOMPARE(pixel(1), p.color(QPalette::ButtonText));
    }

    // The channel windows, the inputs window and About belong to the main
    // window: the window system keeps them in front of it (X11 marks only
    // dialog-type windows transient), and they open on its screen, leaving its
    // buttons free.
    void windowsBelongToTheMainWindow()
    {
        Rig rig;
        rig.start();
        rig.main->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.main.get()));
        QList<QWidget*> owned;
        for (int m = 1; m <= 8; ++m) {
            rig.find<QPushButton>(QStringLiteral("Output%1").arg(m))->click();
            owned << rig.main->channelWindow(m);
        }
        rig.find<QPushButton>("INPUTS")->click();
        owned << rig.main->inputsWindow();
        owned << rig.main->aboutWindow();
        const QRect screen = rig.main->screen()->availableGeometry();
        QList<QPoint> buttons;
        for (auto* b : rig.main->centralWidget()->findChildren<QPushButton*>())
            buttons << b->mapToGlobal(b->rect().center());
        QSet<QPoint> corners;
        for (QWidget* w : owned) {
            const QByteArray name = w->objectName().toLatin1();
            QCOMPARE(w->windowType(), Qt::Dialog);
            if (w == rig.main->aboutWindow()) continue; // shown modally below
            QCOMPARE(w->windowHandle()->transientParent(), rig.main->windowHandle());
            const QRect frame = w->frameGeometry();
            QVERIFY2(screen.contains(frame), name);
            for (const QPoint& b : buttons)
                QVERIFY2(!frame.contains(b), name);
            corners.insert(frame.topLeft());
        }
        QCOMPARE(corners.size(), 9); // cascaded, not stacked on one spot

        // Where the user moves a window, it opens again.
        channels::ChannelWindow* three = rig.main->channelWindow(3);
        three->move(screen.topLeft() + QPoint(5, 5));
        QTRY_COMPARE(three->pos(), screen.topLeft() + QPoint(5, 5));
        three->findChild<QPushButton*>("Close1")->click();
        rig.find<QPushButton>("Output3")->click();
        QCOMPARE(three->pos(), screen.topLeft() + QPoint(5, 5));
    }

    // Esc in About does what OK does: the window unloads and the option is stored at once.
    void escapeInAboutSavesLikeOk()
    {
        Rig rig;
        rig.start();
        rig.main->show();
        shell::AboutWindow* about = rig.main->aboutWindow();
        bool wasModal = false;
        QTimer::singleShot(0, about, [&] {
            wasModal = about->isVisible() && about->isModal();
            about->findChild<QCheckBox*>("sport")->click();
            QTest::keyClick(about, Qt::Key_Escape);
        });
        rig.main->showAbout();
        QVERIFY(wasModal);
        QVERIFY(!rig.model().isAboutLoaded());
        QCOMPARE(rig.stored("SOURCEPORT"), QStringLiteral("True"));
        QCOMPARE(about->windowHandle()->transientParent(), rig.main->windowHandle());
    }

    void aboutAndSplashTexts()
    {
        Rig rig;
        rig.start();
        shell::AboutWindow* about = rig.main->aboutWindow();
        auto text = [&](const char* name) { return about->findChild<QLabel*>(name)->text(); };
        QCOMPARE(about->windowTitle(), QStringLiteral("ABOUT TIMER"));
        QCOMPARE(text("lblTitle"), QStringLiteral("KESTRA3"));
        QCOMPARE(text("lblVersion"), QStringLiteral("Version 3.0.0"));
        QCOMPARE(
            text("lblDescription"),
            QStringLiteral(
                "A program that enables the computer to use the printer port 3BC to control 8 outputs."));
        QCOMPARE(text("lblDisclaimer"),
                 QStringLiteral("This program is configured for port 03BC. Program database "
                                "loaded into ") +
                     kestra3Config().databasePath());
        QCOMPARE(text("Label1"), shell::kTimeFormsText);
        // Every form the text names is one the time boxes take.
        for (const QString t : {"07:30:00", "7:30", "00:00:00", "23:59:59"})
            QVERIFY2(tryParseTime(t).has_value() && text("Label1").contains(t), qPrintable(t));
        QVERIFY(text("lblPort").startsWith("Port 3BC: simulated"));
        QCOMPARE(about->findChild<QCheckBox*>("sport")->toolTip(),
                 QStringLiteral("When this box is checked ..ON = 5V & OFF = 0V, else ON = 0V & OFF = 5V"));

        shell::Splash splash("KESTRA2");
        QCOMPARE(splash.findChild<QLabel*>("lblProductName")->text(), QStringLiteral("KESTRA2"));
        QCOMPARE(splash.findChild<QLabel*>("lblVersion")->text(), QStringLiteral("Version 3.0.0"));
    }

    // The link reads as words; where nothing can show web pages, a click says
    // where the page is.
    void helpLinkSaysWhereThePageIs()
    {
        ui::RecordingMessenger messages;
        Rig rig;
        rig.start();
        auto* link = rig.find<QLabel>("hyperlink");
        QCOMPARE(QTextDocumentFragment::fromHtml(link->text()).toPlainText(),
                 QStringLiteral("Help: how to use this time switch"));
        const QString href = QRegularExpression("href=\"([^\"]+)\"").match(link->text()).captured(1);
        const QString page = QUrl(href).toLocalFile();
        QVERIFY(QFile(page).open(QIODevice::ReadOnly));
        QVERIFY(link->toolTip().contains(page));

        emit link->linkActivated(href); // the test platform has nothing to show web pages
        QCOMPARE(messages.notices.size(), 1);
        QVERIFY(messages.notices.first().contains(page));
    }

    // The status line names the port in a few words that are never cut off;
    // the whole text is one hover away. While the port does not hold what the
    // window shows it turns red and says which outputs; a good write clears it.
    void statusLineShowsThePortAndWhatIsNotDriven()
    {
        ui::RecordingMessenger messages;
        Rig rig({{"On3", "True"}});
        rig.start();
        rig.main->show();
        auto* line = rig.find<ui::ElidedLabel>("lblPort");
        const QString portPath = rig.dir.filePath("port-3BC");
        const QColor normal = line->palette().color(QPalette::WindowText);
        auto shown = [&] { return line->text(); };

        rig.main->resize(250, rig.main->height());
        QTRY_VERIFY(line->width() < line->sizeHint().width());
        QVERIFY2(shown().startsWith("Simulated port: ") && shown().contains(QChar(0x2026)),
                 qPrintable(shown()));
        QVERIFY(shown().endsWith("port-3BC"));
        QVERIFY(line->toolTip().contains(portPath));
        QVERIFY(line->toolTip().contains("kestra-panel 3BC"));
        QCOMPARE(rig.main->aboutWindow()->findChild<QLabel*>("lblPort")->text(), line->toolTip());

        // The port file turns into a directory: channel 3's ON does not reach it.
        QVERIFY(QFile::remove(portPath));
        QVERIFY(QDir().mkdir(portPath));
        rig.model().channel(3).tick();
        rig.model().scan();
        QVERIFY2(shown().startsWith("Port problem: output 3 not driven: "), qPrintable(shown()));
        QCOMPARE(line->palette().color(QPalette::WindowText), QColor(192, 0, 0));
        QVERIFY(line->toolTip().contains("not a regular file"));
        QCOMPARE(rig.find<QLineEdit>("Status3")->text(), QStringLiteral("ON"));

        // Mended: the next scan writes again, although the byte has not changed.
        QVERIFY(QDir().rmdir(portPath));
        rig.model().scan();
        QCOMPARE(rig.data(), quint8(0xFB));
        QVERIFY2(shown().startsWith("Simulated port: "), qPrintable(shown()));
        QCOMPARE(line->palette().color(QPalette::WindowText), normal);
        QVERIFY(line->toolTip().contains("was missing and was put back whole"));
        QVERIFY(messages.modals.isEmpty());
    }

    void captionsOfBothBuilds()
    {
        QCOMPARE(kestra3Config().caption(), QStringLiteral("KESTRA3 (Port 3BC)"));
        QCOMPARE(kestra2Config().caption(), QStringLiteral("KESTRA2 (Port 278)"));
        QCOMPARE(kestra2Config().simulatedPortFileName(), QStringLiteral("port-278"));
        QVERIFY(kestra2Config().databasePath().endsWith("/Timer/Kestra2.db"));
        Rig rig;
        rig.start();
        QCOMPARE(rig.main->windowTitle(), QStringLiteral("KESTRA3 (Port 3BC)"));
        QVERIFY(rig.main->portLine().contains("simulated"));
        QVERIFY(rig.main->portLine().contains("kestra-panel 3BC"));
    }
};

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
