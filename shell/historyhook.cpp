#include "shell/historyhook.h"

#include "channels/channelwindow.h"
#include "history/historywindow.h"
#include "history/rows.h"
#include "shell/aboutwindow.h"
#include "shell/mainwindow.h"
#include "ui/messenger.h"

#include <QEvent>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QToolTip>

namespace kestra::shell {

QString statusToolTip(const QString& own, const QString& hours)
{
    if (own.isEmpty()) return hours;
    if (hours.isEmpty()) return own;
    return own + QLatin1Char('\n') + hours;
}

HistoryHook::HistoryHook(const ui::AppContext& ctx, const QString& path)
    : m_ctx(ctx), m_recorder(path, ctx.clock)
{
    m_ctx.port.setObserver(&m_recorder);
    connect(&m_recorder, &history::Recorder::problemFound, this, [this](const QString& reason) {
        tell(QStringLiteral(
                 "The history cannot be written to %1: %2\n\nSwitching goes on as usual. The records "
                 "wait in memory and are written as soon as the file can be used again.")
                 .arg(m_recorder.path(), reason));
    });
    // Only a file that is no history file is worth moving away; a lock or a failing read may pass.
    connect(&m_recorder, &history::Recorder::notKept, this, [this](const QString& reason, bool unusable) {
        tell(QStringLiteral("The history is not kept in this run: %1\n\nSwitching goes on as usual. %2")
                 .arg(reason, unusable ? QStringLiteral("Move the file away to start a new history.")
                                       : QStringLiteral("The file is tried again at the next start.")));
    });
    connect(&m_recorder, &history::Recorder::countFailed, this, [this](const QString& reason, bool unusable) {
        tell(QStringLiteral("The operating hours could not be counted: %1\n\nSwitching and the history go on "
                            "as usual; the hours are counted again at the next start.%2")
                 .arg(reason,
                      unusable ? QStringLiteral(" The file is damaged: move it away to start a new history.")
                               : QString()));
    });
}

HistoryHook::~HistoryHook()
{
    m_ctx.port.setObserver(nullptr);
    m_recorder.close();
}

void HistoryHook::attach(MainWindow& main)
{
    m_main = &main;
    m_recorder.setPhase(history::Recorder::Phase::StartUp);
    m_recorder.setSnapshotSource([this] {
        history::Recorder::Snapshot s;
        if (!m_main) return s;
        s.fiveVoltsOn = m_main->aboutWindow() && m_main->aboutWindow()->fiveVoltsOn();
        for (int m = 1; m <= 8; ++m)
            if (channels::ChannelWindow* w = m_main->channelWindow(m)) s.causes[m - 1] = w->cause();
        return s;
    });
    // The close event comes before the unload that switches every output off.
    main.installEventFilter(this);

    QMenuBar* bar = main.menuBar();
    auto* view = bar->findChild<QMenu*>(QStringLiteral("mnuView"));
    if (!view) {
        view = new QMenu(QStringLiteral("&View"), bar);
        view->setObjectName(QStringLiteral("mnuView"));
        auto* help = bar->findChild<QMenu*>(QStringLiteral("mnuHelp"));
        bar->insertMenu(help ? help->menuAction() : nullptr, view);
    }
    QAction* show = view->addAction(QStringLiteral("&History"));
    show->setObjectName(QStringLiteral("mnuHistory"));
    connect(show, &QAction::triggered, this, &HistoryHook::showWindow);

    // The main window's own Status fields, not those of the channel windows.
    for (int m = 1; m <= 8; ++m) {
        auto* field = main.centralWidget()->findChild<QLineEdit*>(QStringLiteral("Status%1").arg(m),
                                                                  Qt::FindDirectChildrenOnly);
        m_status[m - 1] = field;
        if (field) field->installEventFilter(this);
    }
}

void HistoryHook::loaded()
{
    m_recorder.setPhase(history::Recorder::Phase::Running);
}

history::HistoryWindow* HistoryHook::window() const
{
    return m_window;
}

void HistoryHook::showWindow()
{
    if (!m_window) {
        m_window = new history::HistoryWindow(m_recorder, m_ctx.clock, m_main);
        // Named like the program's other windows, so that KESTRA3's and KESTRA2's can be told apart.
        m_window->setWindowTitle(QStringLiteral("%1 - History").arg(m_ctx.build.title));
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

QString HistoryHook::toolTip(int output) const
{
    const QLineEdit* field = m_status.at(output - 1);
    const QString own = field ? field->toolTip() : QString();
    const QString hours = m_recorder.isOpen()
                              ? history::hoursText(output, m_recorder)
                              : QStringLiteral("No history in this run: %1").arg(m_recorder.problem());
    return statusToolTip(own, hours);
}

bool HistoryHook::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::Close && watched == m_main)
        m_recorder.setPhase(history::Recorder::Phase::Shutdown);
    if (e->type() == QEvent::ToolTip)
        for (int m = 1; m <= 8; ++m)
            if (watched == m_status[m - 1]) {
                QToolTip::showText(static_cast<QHelpEvent*>(e)->globalPos(), toolTip(m), m_status[m - 1]);
                return true;
            }
    return QObject::eventFilter(watched, e);
}

void HistoryHook::tell(const QString& text)
{
    // Said once the main window is up, without holding anything.
    QTimer::singleShot(0, this, [this, text] { ui::messenger().notice(m_main, m_ctx.build.title, text); });
}

} // namespace kestra::shell
