#pragma once

#include <QRect>
#include <QString>

class QWidget;

namespace kestra::shell {

// The main window's placement in twips, kept per user under the build's title,
// group "Settings", keys MainLeft, MainTop, MainWidth, MainHeight.
struct Placement
{
    double left = 1000, top = 1000, width = 6500, height = 6500;
};

// A missing value, or one that is not a number, gives that key's default.
Placement readPlacement(const QString& title);
void writePlacement(const QString& title, const Placement& p);

// "1000", "1234.5": a whole number is written without a decimal point.
QString placementText(double value);

} // namespace kestra::shell
