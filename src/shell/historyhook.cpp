#include "shell/historyhook.h"

#include "logic/history/rows.h"
#include "shell/mainwindow.h"
#include "views/history/historywindow.h"
#include "views/widgets/ownedwindow.h"

#include <QEvent>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QToolTip>

namespace kestra::shell {

QString statusToolTip(const QString& own, const QString& hours)
{
    if (own.isEmpty()) return hours;
    if (hours.isEmpty()) return own;
    return own + QLatin1Char('\n') + hours;
}

HistoryHook::HistoryHook(history::Recorder& recorder, const Clock& clock, const QString& title)
    : m_recorder(recorder), m_clock(clock), m_title(title)
{}

HistoryHook::~HistoryHook() = default;

void HistoryHook::attach(MainWindow& main)
{
    m_main = &main;
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
    if (e->type() == QEvent::ToolTip)
        for (int m = 1; m <= 8; ++m)
            if (watched == m_status[m - 1]) {
                QToolTip::showText(static_cast<QHelpEvent*>(e)->globalPos(), toolTip(m), m_status[m - 1]);
                return true;
            }
    return QObject::eventFilter(watched, e);
}

} // namespace kestra::shell
