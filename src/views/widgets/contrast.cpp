#include "views/widgets/contrast.h"

#include <QPushButton>
#include <algorithm>
#include <cmath>

namespace kestra::ui {

namespace {
double channel(int value)
{
    const double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c)
{
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}
} // namespace

double contrastRatio(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableTextOn(const QColor& background)
{
    const QColor black(Qt::black);
    const QColor white(Qt::white);
    return contrastRatio(black, background) >= contrastRatio(white, background) ? black : white;
}

void paintButton(QPushButton* button, const QColor& background)
{
    const QColor text = readableTextOn(background);
    QPalette p = button->palette();
    p.setColor(QPalette::Button, background);
    p.setColor(QPalette::ButtonText, text);
    button->setPalette(p);
    // A style sheet with a border makes the style fill the button with the colour as it is;
    // an edge in the text colour shows the button even on a window of its own colour.
    button->setStyleSheet(
        QStringLiteral("QPushButton { background-color: %1; color: %2; border: 1px solid %2;"
                       " border-radius: 3px; padding: 4px 10px; }"
                       "QPushButton:focus { border-width: 2px; }"
                       "QPushButton:pressed { padding: 5px 9px 3px 11px; }")
            .arg(background.name(), text.name()));
}

} // namespace kestra::ui
