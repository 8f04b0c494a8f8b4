#pragma once

#include <QColor>

namespace kestra::ui {

// Output m's colour (1..8): its button in the main window. The week view and
// the history label the output's rows with it, so that an output has one
// colour wherever it is named. (Its window keeps a background of its own.)
QColor outputColour(int output);

} // namespace kestra::ui
