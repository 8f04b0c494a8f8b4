#include "shell/mainwindow.h"

#include "base/paths.h"
#include "base/timetext.h"
#include "logic/inputs/inputlogic.h"
#include "logic/week/next.h"
#include "logic/week/weekmodel.h"
#include "model/historysource.h"
#include "model/switchmodel.h"
#include "model/teller.h"
#include "platform/desktop/autostart.h"
#include "platform/desktop/installation.h"
#include "platform/port/portline.h"
#include "service/homeautomation.h"
#include "service/service.h"
#include "shell/aboutwindow.h"
#include "shell/logo.h"
#include "shell/mainparts.h"
#include "shell/placement.h"
#include "shell/statustips.h"
#include "views/calendar/calendarwindow.h"
#include "views/channels/channelwindow.h"
#include "views/inputs/inputswindow.h"
#include "views/mqtt/settingssource.h"
#include "views/mqtt/settingswindow.h"
#include "views/week/weekview.h"
#include "views/widgets/contrast.h"
#include "views/widgets/elidedlabel.h"
#include "views/widgets/messenger.h"
#include "views/widgets/naming.h"
#include "views/widgets/outputcolour.h"
#include "views/widgets/ownedwindow.h"
#include "views/widgets/twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QResizeEvent>
#include <QSaveFile>
#include <QScreen>
#include <QStatusBar>
#include <QUrl>
#include <algorithm>
#include <chrono>

namespace kestra::shell {

using namespace std::chrono_literals;

namespace {
// Colours as the program names them: 0x00BBGGRR.
constexpr int kOnColour = 255;    // red
constexpr int kOffColour = 65280; // green
// A port problem in the status line.
const QColor kProblemColour(192, 0, 0);

QColor fromBgr(int v)
{
    return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

void setBackColour(QLineEdit* e, int bgr)
{
    QPalette p = e->palette();
    const QColor c = fromBgr(bgr);
    if (p.color(QPalette::Base) == c) return;
    p.setColor(QPalette::Base, c);
    e->setPalette(p);
}

// Room for the widest next-switching text.
int nextTextWidth(const QFontMetrics& fm)
{
    int w = 0;
    for (const QString& sample :
         {QStringLiteral("next: Wed 00:00:00 OFF"), QStringLiteral("no switching this week"),
          QStringLiteral("frozen at its last state"),
          QStringLiteral("no mode chosen: select AUTO in its window")})
        w = std::max(w, fm.horizontalAdvance(sample));
    return w;
}

// Owned windows are numbered for their place beside the main window: the
// outputs 0 to 7, the inputs 8; the week (0) and the history (1) start again,
// being too large to cascade far.
constexpr int kWeekWindowIndex = 0;

// The panel sits beside the program when installed, and in its own folder of
// the build tree; name it so that the user can start it as shown.
QString panelCommand()
{
    static const QString command = [] {
        const QString dir = QCoreApplication::applicationDirPath();
        for (const QString& candidate :
             {dir + QStringLiteral("/kestra-panel"), dir + QStringLiteral("/../panel/kestra-panel")})
            if (QFileInfo(candidate).isExecutable()) return QDir::cleanPath(candidate);
        return QStringLiteral("kestra-panel");
    }();
    return command;
}
} // namespace

MainWindow::MainWindow(service::Service& service, QWidget* parent) : QMainWindow(parent), m_service(service)
{
    model::SwitchModel& model = service.model();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(model.build().caption());
    model.errors().setWindow(this);
    service.setWindow(this);
    m_statusTips = new StatusTips(*new history::RecorderHistory(service.recorder(), this),
                                  [this](int channel) { return statusToolTip(channel); }, this);
    buildWidgets();
    // The other windows exist, hidden, from the start, like the parts they show.
    m_inputs = new inputs::InputsWindow(model.inputs(), model.build().title, this);
    for (int m = 1; m <= 8; ++m) {
        m_channels[m - 1] = new channels::ChannelWindow(model.channel(m), this);
        connect(m_channels[m - 1], &channels::ChannelWindow::calendarRequested, this, &MainWindow::showCalendar);
    }
    m_about = new AboutWindow(model, this);
    connect(&model, &model::SwitchModel::scanDone, this, &MainWindow::showScan);
    connect(&model, &model::SwitchModel::locationsChanged, this, &MainWindow::showLocations);
    connect(&model, &model::SwitchModel::portChanged, this, &MainWindow::updatePortLine);
    connect(&service.week(), &week::WeekModel::nextChanged, this, &MainWindow::showNext);
    connect(&model, &model::SwitchModel::scanDone, this, &MainWindow::showModesToInputs);
    // The next line's tool tip names the outputs by their locations.
    connect(&model, &model::SwitchModel::locationsChanged, this, &MainWindow::showNextLine);
    connect(&model, &model::SwitchModel::locationEdited, this, &MainWindow::showNextLine);
    watchSessionEnd();
}

MainWindow::~MainWindow() = default;

calendarview::CalendarWindow* MainWindow::showCalendar(int channel)
{
    if (!m_calendar) m_calendar = new calendarview::CalendarWindow(m_service.model(), this);
    m_calendar->showOutput(channel);
    ui::showOwnedWindow(m_calendar, channel);
    return m_calendar;
}

void MainWindow::buildWidgets()
{
    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);
    auto label = [&](const QString& name, const QString& text) {
        auto* l = new QLabel(text, central);
        l->setObjectName(name);
        return l;
    };
    auto field = [&](const QString& name, bool readOnly) {
        auto* e = new QLineEdit(central);
        e->setObjectName(name);
        e->setReadOnly(readOnly);
        return e;
    };

    grid->addWidget(label(QStringLiteral("Label10"), QStringLiteral("OUTPUTS")), 0, 0, 1, 2);
    grid->addWidget(label(QStringLiteral("Label1"), QStringLiteral("Location")), 0, 2);
    for (int m = 1; m <= 8; ++m) {
        grid->addWidget(label(QStringLiteral("Label%1").arg(m + 1), QString::number(m)), m, 0);
        QPushButton* button = outputButton(m, central);
        connect(button, &QPushButton::clicked, this, [this, m] { showChannel(m); });
        grid->addWidget(button, m, 1);
        QLineEdit* loc = field(QStringLiteral("Text%1").arg(m), false);
        m_locations[m - 1] = loc;
        ui::nameControl(loc, QStringLiteral("Location of output %1").arg(m),
                        QStringLiteral("Where output %1 is; its window shows this in its caption").arg(m));
        grid->addWidget(loc, m, 2);
        m_status[m - 1] = field(QStringLiteral("Status%1").arg(m), true);
        m_status[m - 1]->setMaximumWidth(60);
        ui::nameDisplay(m_status[m - 1], QStringLiteral("State of output %1").arg(m));
        m_statusTips->watch(m, m_status[m - 1]);
        grid->addWidget(m_status[m - 1], m, 3);
        // The next switching, in a column of its own that shows only where
        // the window has room for it (see placeNextTexts).
        m_next[m - 1] = label(QStringLiteral("Next%1").arg(m), QString());
        m_next[m - 1]->setMinimumWidth(nextTextWidth(m_next[m - 1]->fontMetrics()));
        m_next[m - 1]->hide();
        grid->addWidget(m_next[m - 1], m, 4);
    }
    buildNextLine(grid, 9);
    for (int n = 1; n <= 5; ++n) {
        m_inputTexts[n - 1] = field(QStringLiteral("INPUT%1").arg(n), true);
        m_inputTexts[n - 1]->setText(QStringLiteral("calculating"));
        ui::nameDisplay(m_inputTexts[n - 1], QStringLiteral("State of input %1").arg(n));
        grid->addWidget(m_inputTexts[n - 1], 9 + n, 0, 1, 2);
        QLineEdit* loc = field(QStringLiteral("Text%1").arg(n + 8), false);
        ui::nameControl(loc, QStringLiteral("Location of input %1").arg(n),
                        QStringLiteral("Where input %1 is").arg(n));
        grid->addWidget(loc, 9 + n, 2);
        m_locations[n + 7] = loc;
    }
    for (int n = 1; n <= 13; ++n) {
        connect(m_locations[n - 1], &QLineEdit::textEdited, this,
                [this, n](const QString& text) { m_service.model().editLocation(n, text); });
        connect(m_locations[n - 1], &QLineEdit::editingFinished, this,
                [this, n] { m_service.model().storeLocation(n); });
    }
    auto* inputs = new QPushButton(QStringLiteral("Inputs"), central);
    inputs->setObjectName(QStringLiteral("INPUTS"));
    inputs->setToolTip(QStringLiteral("Select Inputs"));
    ui::nameControl(inputs, QStringLiteral("Inputs"));
    connect(inputs, &QPushButton::clicked, this, &MainWindow::showInputs);
    grid->addWidget(inputs, 15, 0, 1, 2);
    auto* weekButton = new QPushButton(QStringLiteral("Week"), central);
    weekButton->setObjectName(QStringLiteral("cmdWeek"));
    weekButton->setToolTip(QStringLiteral("The week of all outputs at a glance"));
    ui::nameControl(weekButton, QStringLiteral("Week"));
    connect(weekButton, &QPushButton::clicked, this, &MainWindow::showWeek);
    grid->addWidget(weekButton, 15, 2, Qt::AlignLeft);

    auto* logo = new Logo(m_service.model().ticker(), central);
    grid->addWidget(logo, 15, 3, 2, 1, Qt::AlignRight);
    const QUrl help = helpPageUrl();
    QLabel* link = helpLink(this, central, m_service.model().build().title, help);
    grid->addWidget(link, 16, 0, 1, 3);

    setCentralWidget(central);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    addStartAtLogin(file, this, m_service.model().build());
    // Home automation: its settings under File, applied at once; its state in the status line.
    auto* broker =
        new mqtt::LocalSettings(m_service.homeAutomation().link(), m_service.model().build().title, this);
    mqtt::addSettingsAction(file, *broker, this);
    mqtt::addStatusLabel(statusBar(), *broker);
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("E&xit"));
    exit->setObjectName(QStringLiteral("mnuExit"));
    connect(exit, &QAction::triggered, this, &MainWindow::exitByUser);
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("mnuView"));
    m_viewMenu = view;
    QAction* week = view->addAction(QStringLiteral("&Week"));
    week->setObjectName(QStringLiteral("mnuWeek"));
    week->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    connect(week, &QAction::triggered, this, &MainWindow::showWeek);
    buildPanelItem(view);
    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    helpMenu->setObjectName(QStringLiteral("mnuHelp"));
    addHelpContents(helpMenu, this, m_service.model().build().title, help);
    QAction* about = helpMenu->addAction(QStringLiteral("&About Timer Settings..."));
    about->setObjectName(QStringLiteral("mnuAbout"));
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);

    m_portLabel = new ui::ElidedLabel(this);
    m_portLabel->setObjectName(QStringLiteral("lblPort"));
    statusBar()->addWidget(m_portLabel, 1);
}

void MainWindow::load()
{
    m_service.start([this] { restorePlacement(); });
    updatePortLine();
}

week::WeekModel* MainWindow::weekModel() const
{
    return &m_service.week();
}

void MainWindow::showNext(int channel)
{
    const week::NextSwitching& next = m_service.week().next(channel);
    m_next[channel - 1]->setText(week::nextSwitchingText(next));
    m_status[channel - 1]->setToolTip(statusToolTip(channel));
    m_channels[channel - 1]->showNext(week::nextSwitchingText(next, true), statusToolTip(channel));
    showNextLine();
}

QString MainWindow::statusToolTip(int channel) const
{
    return week::nextSwitchingToolTip(m_service.week().next(channel));
}

QString MainWindow::statusTip(int channel) const
{
    return m_statusTips->text(channel);
}

void MainWindow::showWeek()
{
    if (!m_weekView) {
        m_weekView =
            new week::WeekView(m_service.week(), &ui::outputColour, m_service.model().build().title, this);
        connect(m_weekView, &week::WeekView::openChannel, this, &MainWindow::showChannel);
    }
    ui::showOwnedWindow(m_weekView, kWeekWindowIndex);
}

void MainWindow::restorePlacement()
{
    QList<QRect> screens;
    for (const QScreen* s : QGuiApplication::screens())
        screens << s->availableGeometry();
    const QRect r = placementRect(readPlacement(m_service.model().build().title), screens, logicalDpiX(),
                                  minimumSizeHint());
    move(r.topLeft());
    resize(r.size());
}

void MainWindow::showScan()
{
    const model::SwitchModel& model = m_service.model();
    for (int n = 1; n <= 5; ++n) {
        const std::optional<bool> on = model.shownInput(n);
        const QString text = on ? inputs::inputText(n, *on) : QStringLiteral("calculating");
        if (m_inputTexts[n - 1]->text() != text) m_inputTexts[n - 1]->setText(text);
    }
    for (int m = 1; m <= 8; ++m) {
        const bool on = model.shownOn(m);
        const QString text = stateText(stateOf(on));
        if (m_status[m - 1]->text() != text) m_status[m - 1]->setText(text);
        setBackColour(m_status[m - 1], on ? kOnColour : kOffColour);
    }
    updatePortLine();
}

void MainWindow::showLocations()
{
    for (int n = 1; n <= 13; ++n) {
        const QString& text = m_service.model().location(n);
        if (m_locations[n - 1]->text() != text) m_locations[n - 1]->setText(text);
    }
}

QString MainWindow::portLine() const
{
    return m_portLabel->toolTip();
}

void MainWindow::updatePortLine()
{
    const model::SwitchModel& model = m_service.model();
    port::PortFacts facts = model.portFacts();
    if (facts.kind == port::BackendKind::Simulated)
        facts.advice = QStringLiteral("To see the outputs and set the inputs, start: %1 %2")
                           .arg(panelCommand(), model.build().portText());
    showPanelItem();
    const port::PortLine line = port::describePort(facts);
    m_portLabel->setParts(line.head, line.rest);
    if (m_portLabel->toolTip() != line.full) {
        m_portLabel->setToolTip(line.full);
        if (m_about) m_about->setPortLine(line.full);
    }
    const QColor colour = line.problem ? kProblemColour : palette().color(QPalette::WindowText);
    if (m_portLabel->palette().color(QPalette::WindowText) != colour) {
        QPalette pal = m_portLabel->palette();
        pal.setColor(QPalette::WindowText, colour);
        m_portLabel->setPalette(pal);
    }
}

void MainWindow::showChannel(int channel)
{
    ui::showOwnedWindow(m_channels.at(channel - 1), channel - 1);
}

void MainWindow::showInputs()
{
    ui::showOwnedWindow(m_inputs, 8);
}

void MainWindow::showAbout()
{
    m_service.model().prepareAbout();
    m_about->exec();
}

void MainWindow::resizeEvent(QResizeEvent* e)
{
    QMainWindow::resizeEvent(e);
    placeNextTexts();
}

void MainWindow::placeNextTexts()
{
    // The location fields keep at least the width they have in a window of
    // the default size; the next switchings show only in what is left over.
    if (!m_next[0] || !centralWidget()->layout()) return;
    const int spacing = centralWidget()->layout()->spacing();
    const int needed = ui::twipsToPixels(int(Placement{}.width), this) + m_next[0]->minimumWidth() + spacing;
    const bool room = width() >= needed;
    for (QLabel* next : m_next)
        if (next->isVisibleTo(this) != room) next->setVisible(room);
}

void MainWindow::closeEvent(QCloseEvent* e)
{
    // A close the user makes (the window system's close button) asks; one from
    // the program (a signal, the session's end) does not.
    if (e->spontaneous() && !m_unloaded && !askToStop()) {
        e->ignore();
        return;
    }
    if (!m_unloaded) {
        m_unloaded = true;
        unload();
    }
    e->accept();
    QCoreApplication::quit();
}

void MainWindow::unload()
{
    if (m_weekView) m_weekView->hide();
    m_service.stop();
    if (!isMinimized()) {
        const QPoint pos = this->pos();
        const QSize size = this->size();
        writePlacement(m_service.model().build().title,
                       {double(ui::pixelsToTwips(pos.x(), this)), double(ui::pixelsToTwips(pos.y(), this)),
                        double(ui::pixelsToTwips(size.width(), this)),
                        double(ui::pixelsToTwips(size.height(), this))});
    }
}

void MainWindow::buildNextLine(QGridLayout* grid, int row)
{
    // At the default size there is no room for a column of next switchings
    // beside the states: one line under the outputs names the soonest, and
    // its tool tip each output's.
    m_nextLine = new ui::ElidedLabel(centralWidget());
    m_nextLine->setObjectName(QStringLiteral("lblNext"));
    m_nextLine->setElideMode(Qt::ElideRight);
    // It never widens a column: the location fields keep their width.
    m_nextLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    grid->addWidget(m_nextLine, row, 0, 1, 4);
}

void MainWindow::showNextLine()
{
    std::array<week::NextSwitching, 8> next;
    QStringList each;
    for (int m = 1; m <= 8; ++m) {
        next[m - 1] = m_service.week().next(m);
        const QString& location = m_service.model().location(m);
        each << QStringLiteral("%1%2: %3")
                    .arg(m)
                    .arg(location.isEmpty() ? QString() : QStringLiteral(" ") + location,
                         week::nextSwitchingText(next[m - 1]));
    }
    const QString text = week::nextOverviewText(next);
    m_nextLine->setParts({}, text);
    m_nextLine->setToolTip(each.join(QLatin1Char('\n')));
}

void MainWindow::showModesToInputs()
{
    std::array<channels::Mode, 8> modes{};
    for (int m = 1; m <= 8; ++m)
        modes[m - 1] = m_service.model().channel(m).mode();
    m_inputs->showModes(modes);
}

void MainWindow::buildPanelItem(QMenu* view)
{
    m_panelItem = view->addAction(QStringLiteral("Port &panel"));
    m_panelItem->setObjectName(QStringLiteral("mnuPanel"));
    m_panelItem->setToolTip(QStringLiteral("Shows the simulated port's outputs and sets its inputs"));
    connect(m_panelItem, &QAction::triggered, this, &MainWindow::startPanel);
    showPanelItem();
}

void MainWindow::showPanelItem()
{
    // Only a simulated port has a panel: a printer port has real lines.
    if (!m_panelItem) return;
    const bool simulated = m_service.model().portFacts().kind == port::BackendKind::Simulated;
    if (m_panelItem->isVisible() != simulated) m_panelItem->setVisible(simulated);
}

void MainWindow::startPanel()
{
    const BuildConfig& build = m_service.model().build();
    const QString program = panelCommand();
    if (QProcess::startDetached(program, {build.portText()})) return;
    ui::messenger().notice(this, build.title,
                           QStringLiteral("The port panel could not be started: %1 was not found or cannot "
                                          "run.\nStart it in a terminal: %1 %2")
                               .arg(program, build.portText()));
}

void MainWindow::watchSessionEnd()
{
    // A logout or shutdown must not wait on the question; if the session
    // manager ends the program without closing its window, it ends as File, Exit does.
    connect(qApp, &QGuiApplication::commitDataRequest, this, &MainWindow::sessionEnding);
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (!m_unloaded) close();
    });
}

void MainWindow::sessionEnding()
{
    m_sessionEnding = true;
    // An open question is answered as its default; the session's end follows.
    if (m_asking)
        if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) box->reject();
}

void MainWindow::exitByUser()
{
    if (!m_unloaded && !askToStop()) return;
    close();
}

bool MainWindow::askToStop()
{
    if (m_sessionEnding) return true;
    if (m_asking) return false; // one question at a time
    m_asking = true;
    const bool stop =
        ui::messenger().question(this, m_service.model().build().title,
                                 QStringLiteral("Stop the time switch? All 8 outputs will be switched OFF."),
                                 QStringLiteral("Stop"), QStringLiteral("Keep running"));
    m_asking = false;
    // A signal may have ended the program while the question was open.
    return stop && !m_unloaded;
}

} // namespace kestra::shell
