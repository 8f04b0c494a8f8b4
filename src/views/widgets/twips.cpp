#include "views/widgets/twips.h"

#include <QWidget>
#include <cmath>

namespace kestra::ui {

namespace {
int dpi(const QWidget* w)
{
    const int d = w ? w->logicalDpiX() : 96;
    return d > 0 ? d : 96;
}
} // namespace

int twipsToPixels(int twips, const QWidget* onScreen)
{
    return int(std::lround(double(twips) * dpi(onScreen) / kTwipsPerInch));
}

int pixelsToTwips(int pixels, const QWidget* onScreen)
{
    return int(std::lround(double(pixels) * kTwipsPerInch / dpi(onScreen)));
}

QRect twipsRect(int x, int y, int w, int h, const QWidget* onScreen)
{
    return {twipsToPixels(x, onScreen), twipsToPixels(y, onScreen), twipsToPixels(w, onScreen),
            twipsToPixels(h, onScreen)};
}

void placeAt(QWidget* w, int x, int y, int width, int height)
{
    w->setGeometry(twipsRect(x, y, width, height, w));
}

} // namespace kestra::ui
