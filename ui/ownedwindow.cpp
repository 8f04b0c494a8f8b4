#include "ui/ownedwindow.h"

#include "ui/twips.h"

#include <QLayout>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace kestra::ui {

QPoint ownedWindowPosition(const QRect& owner, const QSize& size, int index, int step, const QRect& available)
{
    const int offset = step * (index + 1);
    QPoint p = owner.topLeft() + QPoint(offset, offset);
    // Right and bottom first, so that a window larger than the screen keeps its title bar on it.
    p.setX(std::max(std::min(p.x(), available.right() + 1 - size.width()), available.left()));
    p.setY(std::max(std::min(p.y(), available.bottom() + 1 - size.height()), available.top()));
    return p;
}

void showOwnedWindow(QWidget* window, int index)
{
    const QWidget* owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    if (owner && owner->isVisible()) {
        QScreen* screen = owner->screen();
        const bool placed = window->property("kestraPlaced").toBool();
        const QRect frame = window->frameGeometry();
        if (screen && (!placed || !screen->geometry().contains(frame.center()))) {
            window->ensurePolished();
            if (window->layout()) window->layout()->activate();
            window->move(ownedWindowPosition(owner->frameGeometry(), window->frameGeometry().size(), index,
                                             twipsToPixels(kCascadeStepTwips, owner),
                                             screen->availableGeometry()));
            window->setProperty("kestraPlaced", true);
        }
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace kestra::ui
