#include "views/widgets/naming.h"

#include <QLineEdit>
#include <QWidget>

namespace kestra::ui {

void nameControl(QWidget* control, const QString& name, const QString& description)
{
    control->setAccessibleName(name);
    control->setAccessibleDescription(description.isEmpty() ? control->toolTip() : description);
}

void nameDisplay(QLineEdit* field, const QString& name)
{
    field->setFocusPolicy(Qt::NoFocus);
    field->setAccessibleName(name);
}

} // namespace kestra::ui
