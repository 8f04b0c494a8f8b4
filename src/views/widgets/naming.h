#pragma once

#include <QString>

class QLineEdit;
class QWidget;

namespace kestra::ui {

// Gives a control the name a screen reader says and a description, by default
// its tool tip, so that controls without a caption can be told apart.
void nameControl(QWidget* control, const QString& name, const QString& description = {});

// A read-only field that only shows a state: named, and left out of the tab order.
void nameDisplay(QLineEdit* field, const QString& name);

} // namespace kestra::ui
