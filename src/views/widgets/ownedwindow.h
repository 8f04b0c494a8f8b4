#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace kestra::ui {

// Windows that belong to the main window (channel windows, the inputs window,
// the week and the history) open beside it, cascaded one step of this many
// twips per window number, so that they leave its buttons free.
inline constexpr int kCascadeStepTwips = 360;

// The frame of an owned window whose frame is `size`, for window number
// `index` (0 first), beside its owner's frame `owner`: on its right where the
// screen has room, else on its left, else narrowed to the wider side where
// the window can be as narrow as `minimum` (a frame size; invalid: it cannot),
// else over the owner's right-hand side, away from its buttons. Always wholly inside `available` (the owner's
// screen without panels): a window larger than that gets its size. `step` is the cascade step in pixels.
QRect ownedWindowRect(const QRect& owner, const QSize& size, int index, int step, const QRect& available,
                      const QSize& minimum = QSize());

// Shows `window` (a top-level whose parent is the owner) in front of its owner;
// Esc closes it as its close button does.
// The first time, and whenever it is not on the owner's screen any more, it is
// placed by ownedWindowRect() (a window that can be resized is made to fit the
// screen); otherwise it stays where the user left it.
void showOwnedWindow(QWidget* window, int index);

} // namespace kestra::ui
