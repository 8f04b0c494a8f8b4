#pragma once

#include <QRect>

class QWidget;

namespace kestra::ui {

inline constexpr int kTwipsPerInch = 1440;

// Positions in the program's layouts are given in twips; the screen's logical
// DPI turns them into pixels (at 96 dpi, 15 twips are one pixel).
int twipsToPixels(int twips, const QWidget* onScreen);
int pixelsToTwips(int pixels, const QWidget* onScreen);
QRect twipsRect(int x, int y, int w, int h, const QWidget* onScreen);
void placeAt(QWidget* w, int x, int y, int width, int height);

} // namespace kestra::ui
