#pragma once

#include <QColor>

class QPushButton;

namespace kestra::ui {

// WCAG contrast ratio of two colours, 1 (same) to 21 (black on white).
double contrastRatio(const QColor& a, const QColor& b);

// Black or white, whichever reads better on `background`; on every colour one
// of them reaches at least 4.5:1.
QColor readableTextOn(const QColor& background);

// Paints a push button in exactly `background` (a style would shade it) with
// readable text, edged in the text colour; the edge is twice as wide while it has the focus.
void paintButton(QPushButton* button, const QColor& background);

} // namespace kestra::ui
