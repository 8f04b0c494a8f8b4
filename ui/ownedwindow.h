#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace kestra::ui {

// Windows that belong to the main window (channel windows, the inputs window)
// open cascaded over it, one step of this many twips per window number, so
// that they come up beside the command that opened them on the same screen.
inline constexpr int kCascadeStepTwips = 360;

// Top-left of an owned window of `size` whose owner's frame is `owner`, for
// window number `index` (0 first), kept inside `available` (the owner's screen
// without panels). `step` is the cascade step in pixels.
QPoint ownedWindowPosition(const QRect& owner, const QSize& size, int index, int step,
                           const QRect& available);

// Shows `window` (a top-level whose parent is the owner) in front of its owner.
// The first time, and whenever it is not on the owner's screen any more, it is
// placed by ownedWindowPosition(); otherwise it stays where the user left it.
void showOwnedWindow(QWidget* window, int index);

} // namespace kestra::ui
