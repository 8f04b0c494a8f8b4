#include "shell/attachedwindow.h"

#include "client/remotehistory.h"
#include "client/remoteswitch.h"
#include "shell/aboutwindow.h"
#include "shell/logo.h"
#include "shell/mainparts.h"
#include "shell/statustips.h"
#include "views/calendar/calendarsource.h"
#include "views/calendar/calendarwindow.h"
#include "views/channels/channelwindow.h"
#include "views/channels/remotechannel.h"
#include "views/history/historywindow.h"
#include "views/inputs/inputswindow.h"
#include "views/inputs/remoteinputs.h"
#include "views/mqtt/settingssource.h"
#include "views/mqtt/settingswindow.h"
#include "views/week/weekview.h"
#include "views/widgets/contrast.h"
#include "views/widgets/elidedlabel.h"
#include "views/widgets/messenger.h"
#include "views/widgets/naming.h"
#include "views/widgets/outputcolour.h"
#include "views/widgets/ownedwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

namespace kestra::shell {

namespace {
// Said in the status line, at once, while the switch does not answer.
const QString kNotRunning = QStringLiteral("The time switch is not running: the windows show no state and take "
                                           "no edit until it is back (they attach again by themselves).");
const QString kUnknown = QStringLiteral("unknown");
} // namespace

AttachedWindow::AttachedWindow(client::RemoteSwitch& remote, const BuildConfig& build, QWidget* parent)
    : QMainWindow(parent), m_remote(remote), m_build(build),
      m_errors(this, build.title, model::badEntryText, nullptr)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(build.caption());
    m_hours = new client::RemoteHistory(m_remote, m_build, this);
    m_statusTips = new StatusTips(*m_hours, [this](int m) {
        return m_remote.isAttached() ? m_remote.output(m).nextToolTip : QString();
    }, this);
    buildWidgets();
    for (int m = 1; m <= 8; ++m)
        m_sources[m - 1] = new channels::RemoteChannel(m_remote, m, this);
    connect(&m_remote, &client::RemoteSwitch::outputChanged, this, &AttachedWindow::showOutput);
    connect(&m_remote, &client::RemoteSwitch::inputsChanged, this, &AttachedWindow::showInputs);
    connect(&m_remote, &client::RemoteSwitch::locationsChanged, this, &AttachedWindow::showLocations);
    connect(&m_remote, &client::RemoteSwitch::portChanged, this, &AttachedWindow::showPort);
    connect(&m_remote, &client::RemoteSwitch::attached, this, &AttachedWindow::showAttachment);
    connect(&m_remote, &client::RemoteSwitch::detached, this, &AttachedWindow::showAttachment);
    // The week follows the switch's events, and moves on with the clock while it is shown.
    connect(&m_remote, &client::RemoteSwitch::calendarChanged, this, [this] {
        m_weekSource.calendarChanged();
        refreshWeek();
    });
    for (auto changed : {&client::RemoteSwitch::inputsChanged, &client::RemoteSwitch::attached,
                         &client::RemoteSwitch::detached})
        connect(&m_remote, changed, this, &AttachedWindow::refreshWeek);
    connect(&m_remote, &client::RemoteSwitch::outputChanged, this, &AttachedWindow::refreshWeek);
    m_weekTimer.setInterval(std::chrono::milliseconds(500));
    m_ticker.attach(&m_weekTimer, Ticker::Rank::Display, [this] { refreshWeek(); });
    m_weekSource.calendarChanged();
    showAttachment();
}

AttachedWindow::~AttachedWindow() = default;

void AttachedWindow::buildWidgets()
{
    const QUrl help = helpPageUrl();
    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);
    auto field = [&](const QString& name, bool readOnly) {
        auto* e = new QLineEdit(central);
        e->setObjectName(name);
        e->setReadOnly(readOnly);
        return e;
    };
    grid->addWidget(new QLabel(QStringLiteral("OUTPUTS"), central), 0, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Location"), central), 0, 2);
    for (int m = 1; m <= 8; ++m) {
        grid->addWidget(new QLabel(QString::number(m), central), m, 0);
        QPushButton* button = outputButton(m, central);
        connect(button, &QPushButton::clicked, this, [this, m] { showChannel(m); });
        grid->addWidget(button, m, 1);
        m_locations[m - 1] = field(QStringLiteral("Text%1").arg(m), false);
        grid->addWidget(m_locations[m - 1], m, 2);
        m_status[m - 1] = field(QStringLiteral("Status%1").arg(m), true);
        m_status[m - 1]->setMaximumWidth(60);
        m_statusTips->watch(m, m_status[m - 1]);
        grid->addWidget(m_status[m - 1], m, 3);
        m_next[m - 1] = new QLabel(central);
        m_next[m - 1]->setObjectName(QStringLiteral("Next%1").arg(m));
        grid->addWidget(m_next[m - 1], m, 4);
    }
    m_nextLine = new QLabel(central);
    m_nextLine->setObjectName(QStringLiteral("lblNext"));
    grid->addWidget(m_nextLine, 9, 0, 1, 5);
    for (int n = 1; n <= 5; ++n) {
        m_inputTexts[n - 1] = field(QStringLiteral("INPUT%1").arg(n), true);
        grid->addWidget(m_inputTexts[n - 1], 9 + n, 0, 1, 2);
        m_locations[n + 7] = field(QStringLiteral("Text%1").arg(n + 8), false);
        grid->addWidget(m_locations[n + 7], 9 + n, 2);
    }
    for (int n = 1; n <= 13; ++n)
        connect(m_locations[n - 1], &QLineEdit::textEdited, this, [this, n](const QString& text) {
            if (!m_remote.isAttached()) return; // refused: the field shows no live text then
            m_remote.send({{"command", "location"}, {"n", n}, {"text", text}});
        });
    setCentralWidget(central);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    addStartAtLogin(file, this, m_build);
    // Home automation as alone: the switch's link, its state in the status line.
    auto* broker = new mqtt::RemoteSettings(m_remote, m_build.title, this);
    mqtt::addSettingsAction(file, *broker, this);
    QAction* stop = file->addAction(QStringLiteral("&Stop the time switch"));
    stop->setObjectName(QStringLiteral("mnuStop"));
    stop->setToolTip(QStringLiteral("Ends the running switch: all 8 outputs are switched OFF"));
    connect(stop, &QAction::triggered, this, &AttachedWindow::stopSwitch);
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("E&xit"));
    exit->setObjectName(QStringLiteral("mnuExit"));
    connect(exit, &QAction::triggered, this, &AttachedWindow::exitByUser);
    // What a view of another process cannot show yet is there, disabled, with the reason.
    const QString later = QStringLiteral("Not available while the windows are attached to the running switch: "
                                         "close the switch's service and start %1 alone for this.")
                              .arg(m_build.title);
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("mnuView"));
    view->setToolTipsVisible(true);
    QAction* week = view->addAction(QStringLiteral("&Week"));
    week->setObjectName(QStringLiteral("mnuWeek"));
    week->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    connect(week, &QAction::triggered, this, &AttachedWindow::showWeek);
    QAction* history = view->addAction(QStringLiteral("&History"));
    history->setObjectName(QStringLiteral("mnuHistory"));
    connect(history, &QAction::triggered, this, &AttachedWindow::showHistory);
    QAction* panel = view->addAction(QStringLiteral("Port &panel"));
    panel->setEnabled(false);
    panel->setToolTip(later);
    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    helpMenu->setObjectName(QStringLiteral("mnuHelp"));
    addHelpContents(helpMenu, this, m_build.title, help);
    QAction* about = helpMenu->addAction(QStringLiteral("&About Timer Settings..."));
    about->setObjectName(QStringLiteral("mnuAbout"));
    connect(about, &QAction::triggered, this, &AttachedWindow::showAbout);
    auto* inputs = new QPushButton(QStringLiteral("Inputs"), central);
    inputs->setObjectName(QStringLiteral("INPUTS"));
    grid->addWidget(inputs, 15, 0, 1, 2);
    auto* weekButton = new QPushButton(QStringLiteral("Week"), central);
    weekButton->setObjectName(QStringLiteral("cmdWeek"));
    weekButton->setToolTip(QStringLiteral("The week of all outputs at a glance"));
    ui::nameControl(weekButton, QStringLiteral("Week"));
    connect(weekButton, &QPushButton::clicked, this, &AttachedWindow::showWeek);
    grid->addWidget(weekButton, 15, 2, Qt::AlignLeft);
    grid->addWidget(new Logo(m_ticker, central), 15, 3, 2, 1, Qt::AlignRight);
    grid->addWidget(helpLink(this, central, m_build.title, help), 16, 0, 1, 3);
    connect(inputs, &QPushButton::clicked, this, [this] {
        if (!m_inputsWindow) {
            m_inputsWindow =
                new inputs::InputsWindow(*new inputs::RemoteInputs(m_remote, this), m_build.title, this);
            showModes();
        }
        m_inputsWindow->show();
        m_inputsWindow->raise();
        m_inputsWindow->activateWindow();
    });

    m_portLabel = new ui::ElidedLabel(this);
    m_portLabel->setObjectName(QStringLiteral("lblPort"));
    statusBar()->addWidget(m_portLabel, 1);
    mqtt::addStatusLabel(statusBar(), *broker);
}

void AttachedWindow::showAttachment()
{
    for (int m = 1; m <= 8; ++m)
        showOutput(m);
    showInputs();
    showLocations();
    showPort();
    centralWidget()->setEnabled(m_remote.isAttached());
}

void AttachedWindow::showOutput(int m)
{
    const client::Output& o = m_remote.output(m);
    const bool live = m_remote.isAttached();
    m_status[m - 1]->setText(live ? o.state : kUnknown);
    m_next[m - 1]->setText(live ? o.nextText : QString());
    m_next[m - 1]->setToolTip(live ? o.nextToolTip : QString());
    if (m_channels[m - 1])
        m_channels[m - 1]->showNext(live ? o.nextText : QString(), live ? o.nextToolTip : QString());
    showModes();
}

void AttachedWindow::showModes()
{
    // The inputs window marks the mapped outputs that are not in AUTO.
    if (!m_inputsWindow) return;
    std::array<channels::Mode, 8> modes{};
    for (int n = 1; n <= 8; ++n)
        modes[n - 1] = m_sources[n - 1]->mode();
    m_inputsWindow->showModes(modes);
}

void AttachedWindow::showInputs()
{
    const QJsonArray levels = m_remote.inputs().value(QStringLiteral("levels")).toArray();
    for (int n = 1; n <= 5; ++n) {
        const QString text = levels.at(n - 1).toObject().value(QStringLiteral("text")).toString();
        m_inputTexts[n - 1]->setText(m_remote.isAttached() ? text : kUnknown);
    }
}

void AttachedWindow::showLocations()
{
    const QStringList& l = m_remote.locations();
    for (int n = 1; n <= 13 && n <= l.size(); ++n)
        if (m_locations[n - 1]->text() != l.at(n - 1)) m_locations[n - 1]->setText(l.at(n - 1));
}

void AttachedWindow::showPort()
{
    if (!m_remote.isAttached()) {
        m_portLabel->setParts({}, kNotRunning);
        m_portLabel->setToolTip(m_remote.why());
        return;
    }
    m_portLabel->setParts({}, m_remote.port().value(QStringLiteral("line")).toString());
    const QString whole = m_remote.port().value(QStringLiteral("text")).toString();
    m_portLabel->setToolTip(whole);
    if (m_about) m_about->setPortLine(whole);
}

void AttachedWindow::showChannel(int channel)
{
    channels::ChannelWindow*& w = m_channels.at(channel - 1);
    if (!w) {
        w = new channels::ChannelWindow(*m_sources.at(channel - 1), this);
        connect(w, &channels::ChannelWindow::calendarRequested, this, &AttachedWindow::showCalendar);
        showOutput(channel);
    }
    w->show();
    w->raise();
    w->activateWindow();
}

calendarview::CalendarWindow* AttachedWindow::showCalendar(int channel)
{
    if (!m_calendar)
        m_calendar =
            new calendarview::CalendarWindow(*new calendarview::RemoteCalendar(m_remote, this), this);
    m_calendar->showOutput(channel);
    ui::showOwnedWindow(m_calendar, channel);
    return m_calendar;
}

void AttachedWindow::showWeek()
{
    if (!m_weekView) {
        m_weekView = new week::WeekView(m_week, &ui::outputColour, m_build.title, this);
        connect(m_weekView, &week::WeekView::openChannel, this, &AttachedWindow::showChannel);
    }
    m_weekTimer.start();
    ui::showOwnedWindow(m_weekView, 0);
    refreshWeek();
}

QString AttachedWindow::statusTip(int channel) const
{
    return m_statusTips->text(channel);
}

void AttachedWindow::showHistory()
{
    if (!m_history) {
        m_history =
            new history::HistoryWindow(*m_hours, m_clock, this);
        m_history->setWindowTitle(QStringLiteral("%1 - History").arg(m_build.title));
    }
    // Beside the main window, a step below where the week opens.
    ui::showOwnedWindow(m_history, 1);
}

void AttachedWindow::refreshWeek()
{
    if (!m_weekView) return;
    if (!m_weekView->isVisible()) {
        m_weekTimer.stop(); // nothing runs for a week nobody looks at
        return;
    }
    // A switch that does not answer is not shown as live: the week waits, greyed.
    const bool live = m_remote.isAttached();
    m_weekView->setEnabled(live);
    m_weekView->setWindowTitle(
        live ? QStringLiteral("%1 - Week").arg(m_build.title)
             : QStringLiteral("%1 - Week (the time switch is not running)").arg(m_build.title));
    if (live) model::guarded(m_errors, [this] { m_week.refresh(); });
}

void AttachedWindow::showAbout()
{
    if (!m_remote.isAttached()) {
        ui::messenger().notice(this, m_build.title, QStringLiteral("The time switch is not running."));
        return;
    }
    if (!m_about) {
        m_about = new AboutWindow(m_remote, m_build, this);
        showPort();
    }
    m_about->show();
    m_about->raise();
}

bool AttachedWindow::askToClose()
{
    if (m_asking) return false;
    m_asking = true;
    const bool close = ui::messenger().question(
        this, m_build.title,
        QStringLiteral("Close the windows? The time switch keeps running without them; File, Stop the time "
                       "switch ends it."),
        QStringLiteral("Close"), QStringLiteral("Keep open"));
    m_asking = false;
    return close;
}

void AttachedWindow::exitByUser()
{
    if (!askToClose()) return;
    m_closing = true;
    close();
}

void AttachedWindow::stopSwitch()
{
    if (m_asking) return;
    m_asking = true;
    const bool stop =
        ui::messenger().question(this, m_build.title,
                                 QStringLiteral("Stop the time switch? All 8 outputs will be switched OFF."),
                                 QStringLiteral("Stop"), QStringLiteral("Keep running"));
    m_asking = false;
    if (!stop) return;
    m_remote.send({{"command", "stop"}}, this, [this](const client::CommandResult& r) {
        if (!r.ok()) ui::messenger().notice(this, m_build.title, r.text);
    });
}

void AttachedWindow::closeEvent(QCloseEvent* e)
{
    if (e->spontaneous() && !m_closing && !askToClose()) {
        e->ignore();
        return;
    }
    m_closing = true;
    e->accept();
    QCoreApplication::quit();
}

} // namespace kestra::shell
