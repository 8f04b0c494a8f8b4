#include "shell/weeksource.h"

#include "channels/channelwindow.h"
#include "channels/pulseframe.h"

#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

namespace kestra::shell {

using namespace std::chrono_literals;

WindowWeekSource::WindowWeekSource(const std::array<channels::ChannelWindow*, 8>& channels,
                                   const std::array<QLineEdit*, 8>& locations, inputs::InputsAccess* inputs)
    : m_channels(channels), m_locations(locations), m_inputs(inputs)
{}

channels::ChannelControls WindowWeekSource::controls(int channel) const
{
    return m_channels.at(channel - 1)->controls();
}

QString WindowWeekSource::location(int channel) const
{
    return m_locations.at(channel - 1)->text();
}

QString WindowWeekSource::status(int channel) const
{
    return m_channels.at(channel - 1)->statusText();
}

std::optional<week::PulsePlan> WindowWeekSource::pulse(int channel, qint64 now) const
{
    const channels::PulseFrame* frame = m_channels.at(channel - 1)->pulseFrame();
    if (!frame || !frame->isPulsing()) return std::nullopt;
    const bool on = frame->onTimer()->isActive();
    const qint64 left = (on ? frame->onTimer() : frame->offTimer())->remainingTime();
    const QString onEntry = channels::PulseFrame::selected(frame->onList());
    const QString offEntry = channels::PulseFrame::selected(frame->offList());
    if (frame->inSeconds()) {
        const auto ms = [](const QString& entry) {
            return channels::PulseFrame::secondsToInterval(entry).value_or(1000ms).count();
        };
        return week::secondsPulse(on, left, ms(onEntry), ms(offEntry), now);
    }
    // A counter that is not a number counts as 0, as the minute tick takes it.
    const int counted = (on ? frame->startCounter() : frame->stopCounter())->text().trimmed().toInt();
    return week::minutesPulse(on, left, counted, onEntry.toInt(), offEntry.toInt(), now);
}

inputs::OverrideView WindowWeekSource::inputs(int channel) const
{
    return m_inputs ? m_inputs->overrideView(channel) : inputs::OverrideView{};
}

QColor WindowWeekSource::colour(int channel) const
{
    const QWidget* w = m_channels.at(channel - 1);
    return w->autoFillBackground() ? w->palette().color(QPalette::Window) : QColor();
}

} // namespace kestra::shell
