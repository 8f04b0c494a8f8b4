#include "shell/historyhook.h"

#include "shell/mainwindow.h"
#include "views/history/historywindow.h"
#include "views/widgets/ownedwindow.h"

#include <QMenu>

namespace kestra::shell {

HistoryHook::HistoryHook(history::Recorder& recorder, const Clock& clock, const QString& title)
    : m_recorder(recorder), m_clock(clock), m_title(title)
{}

HistoryHook::~HistoryHook() = default;

void HistoryHook::attach(MainWindow& main)
{
    m_main = &main;
    QAction* show = main.viewMenu()->addAction(QStringLiteral("&History"));
    show->setObjectName(QStringLiteral("mnuHistory"));
    connect(show, &QAction::triggered, this, &HistoryHook::showWindow);
}

history::HistoryWindow* HistoryHook::window() const
{
    return m_window;
}

void HistoryHook::showWindow()
{
    if (!m_window) {
        m_window = new history::HistoryWindow(m_recorder, m_clock, m_main);
        // Named like the program's other windows, so that KESTRA3's and KESTRA2's can be told apart.
        m_window->setWindowTitle(QStringLiteral("%1 - History").arg(m_title));
    }
    // Beside the main window, a step below where the week opens.
    ui::showOwnedWindow(m_window, 1);
}

} // namespace kestra::shell
