#include "ui/ownedwindow.h"

#include "ui/twips.h"

#include <QLayout>
#include <QMargins>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace kestra::ui {

namespace {
// The window system's frame around a window.
QMargins frameOf(const QWidget* w)
{
    const QRect inner = w->geometry();
    const QRect outer = w->frameGeometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}
} // namespace

QRect ownedWindowRect(const QRect& owner, const QSize& size, int index, int step, const QRect& available)
{
    const QSize s = size.boundedTo(available.size());
    const int offset = step * index;
    const int lowestX = available.left();
    const int highestX = available.right() + 1 - s.width();
    int x = 0;
    if (owner.right() + 1 <= highestX)
        x = std::min(owner.right() + 1 + offset, highestX);
    else if (owner.left() - s.width() >= lowestX)
        x = std::max(owner.left() - s.width() - offset, lowestX);
    else // as far from the owner's buttons, on its left, as the screen allows; cascaded downwards only
        x = std::max(highestX, lowestX);
    const int highestY = available.bottom() + 1 - s.height();
    const int y = std::clamp(owner.top() + offset, available.top(), std::max(available.top(), highestY));
    return {QPoint(x, y), s};
}

void showOwnedWindow(QWidget* window, int index)
{
    const QWidget* owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    if (owner && owner->isVisible()) {
        QScreen* screen = owner->screen();
        const bool placed = window->property("kestraPlaced").toBool();
        if (screen && (!placed || !screen->geometry().contains(window->frameGeometry().center()))) {
            window->ensurePolished();
            if (window->layout()) window->layout()->activate();
            if (!placed && !window->testAttribute(Qt::WA_Resized)) window->adjustSize();
            // A window not shown yet has no frame: it will get one like its owner's.
            QMargins frame = frameOf(window);
            if (frame.isNull()) frame = frameOf(owner);
            const QSize frameSize = window->size().grownBy(frame);
            const QRect r =
                ownedWindowRect(owner->frameGeometry(), frameSize, index,
                                twipsToPixels(kCascadeStepTwips, owner), screen->availableGeometry());
            if (r.size() != frameSize && window->minimumSize() != window->maximumSize())
                window->resize(r.size().shrunkBy(frame).expandedTo(window->minimumSizeHint()));
            window->move(r.topLeft());
            window->setProperty("kestraPlaced", true);
        }
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace kestra::ui
