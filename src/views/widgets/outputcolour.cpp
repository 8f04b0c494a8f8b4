#include "views/widgets/outputcolour.h"

#include <array>

namespace kestra::ui {

QColor outputColour(int output)
{
    static const std::array<QColor, 8> colours = {
        QColor(128, 255, 255), QColor(255, 192, 128), QColor(0, 0, 192),     QColor(128, 255, 128),
        QColor(128, 128, 255), QColor(255, 128, 128), QColor(192, 192, 192), QColor(255, 255, 0)};
    return output >= 1 && output <= 8 ? colours[output - 1] : QColor();
}

} // namespace kestra::ui
