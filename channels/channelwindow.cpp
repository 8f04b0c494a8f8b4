#include "channels/channelwindow.h"

namespace kestra::channels {

ChannelWindow::ChannelWindow(const ui::AppContext& ctx, int channel, inputs::InputsAccess* inputs, QWidget* owner)
    : QWidget(owner, Qt::Window), m_channel(channel), m_ctx(ctx), m_inputs(inputs)
{
    setObjectName(QStringLiteral("Form%1").arg(channel));
}

ChannelWindow::~ChannelWindow() = default;

void ChannelWindow::load() {}
void ChannelWindow::unload() {}
QString ChannelWindow::statusText() const
{
    return QStringLiteral("calculating");
}
ChannelControls ChannelWindow::controls() const
{
    return {};
}
void ChannelWindow::tick() {}
void ChannelWindow::rereadRecord() {}

} // namespace kestra::channels
