#pragma once

#include <QList>
#include <QRect>
#include <QString>

class QWidget;

namespace kestra::shell {

// The main window's placement in twips, kept per user under the build's title,
// group "Settings", keys MainLeft, MainTop, MainWidth, MainHeight.
struct Placement
{
    static constexpr double kDefaultLeft = 1000, kDefaultTop = 1000, kDefaultWidth = 6500,
                            kDefaultHeight = 6500;
    double left = kDefaultLeft, top = kDefaultTop, width = kDefaultWidth, height = kDefaultHeight;
};

// A missing value, one that is not a number, or nan or inf, gives that key's default.
Placement readPlacement(const QString& title);
void writePlacement(const QString& title, const Placement& p);

// "1000", "1234.5": a whole number is written without a decimal point.
QString placementText(double value);

// Where the window goes, in pixels, for a placement read back: a value no
// screen could show (beyond the coordinates a window system takes, a size of
// nothing) counts as bad and takes its key's default; the size is kept within
// the screen it lands on but never below the content's minimum; a window that
// would lie off every screen is moved onto the nearest one. `screens` are the
// screens' available areas, `dpi` the logical dots per inch.
QRect placementRect(const Placement& p, const QList<QRect>& screens, int dpi, const QSize& minimum);

} // namespace kestra::shell
