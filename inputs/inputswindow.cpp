#include "inputs/inputswindow.h"

namespace kestra::inputs {

InputsWindow::InputsWindow(const ui::AppContext& ctx, QWidget* owner) : QWidget(owner, Qt::Window), m_ctx(ctx)
{
    setObjectName(QStringLiteral("Form9"));
}

InputsWindow::~InputsWindow() = default;

void InputsWindow::load() {}
void InputsWindow::unload() {}
QString InputsWindow::inputText(int) const
{
    return QStringLiteral("calculating");
}
OverrideView InputsWindow::overrideView(int) const
{
    return {};
}
void InputsWindow::rereadRecord() {}
void InputsWindow::cycle() {}

} // namespace kestra::inputs
