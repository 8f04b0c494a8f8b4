#include "views/widgets/ownedwindow.h"

#include "views/widgets/twips.h"

#include <QLayout>
#include <QMargins>
#include <QScreen>
#include <QShortcut>
#include <QWidget>
#include <QWindow>
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

QRect ownedWindowRect(const QRect& owner, const QSize& size, int index, int step, const QRect& available,
                      const QSize& minimum)
{
    QSize s = size.boundedTo(available.size());
    const int offset = step * index;
    const int lowestX = available.left();
    const int highestX = available.right() + 1 - s.width();
    int x = 0;
    if (owner.right() + 1 <= highestX)
        x = std::min(owner.right() + 1 + offset, highestX);
    else if (owner.left() - s.width() >= lowestX)
        x = std::max(owner.left() - s.width() - offset, lowestX);
    else if (const int right = available.right() - owner.right(), left = owner.left() - available.left();
             minimum.isValid() && minimum.width() <= std::max(right, left)) {
        // Narrower, beside it, on the side with more room: the owner stays whole in view.
        s.setWidth(std::max(right, left));
        x = right >= left ? owner.right() + 1 : lowestX;
    } else // as far from the owner's buttons, on its left, as the screen allows; cascaded downwards only
        x = std::max(highestX, lowestX);
    const int highestY = available.bottom() + 1 - s.height();
    const int y = std::clamp(owner.top() + offset, available.top(), std::max(available.top(), highestY));
    return {QPoint(x, y), s};
}

void showOwnedWindow(QWidget* window, int index)
{
    if (!window->property("kestraEscape").toBool()) {
        // Esc does what the close button does: each window keeps or drops its edits as on that close.
        auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
        escape->setContext(Qt::WindowShortcut);
        // Through the window system, as its close button would: the close is the user's.
        QObject::connect(escape, &QShortcut::activated, window, [window] {
            if (QWindow* handle = window->windowHandle())
                handle->close();
            else
                window->close();
        });
        window->setProperty("kestraEscape", true);
    }
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
            const bool resizable = window->minimumSize() != window->maximumSize();
            const QSize narrowest =
                resizable ? window->minimumSizeHint().expandedTo(window->minimumSize()).grownBy(frame)
                          : QSize();
            const QRect r = ownedWindowRect(owner->frameGeometry(), frameSize, index,
                                            twipsToPixels(kCascadeStepTwips, owner),
                                            screen->availableGeometry(), narrowest);
            if (r.size() != frameSize && resizable)
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
