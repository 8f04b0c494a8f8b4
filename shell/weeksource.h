#pragma once

#include "week/model.h"

#include <QColor>
#include <array>

class QLineEdit;

namespace kestra::channels {
class ChannelWindow;
}

namespace kestra::shell {

// The week model's view of the running program: the channel windows' controls
// (saved or not), their pulse timers, the locations of the main window and the
// inputs window's override view.
class WindowWeekSource final : public week::WeekSource
{
public:
    WindowWeekSource(const std::array<channels::ChannelWindow*, 8>& channels,
                     const std::array<QLineEdit*, 8>& locations, inputs::InputsAccess* inputs);

    channels::ChannelControls controls(int channel) const override;
    QString location(int channel) const override;
    QString status(int channel) const override;
    std::optional<week::PulsePlan> pulse(int channel, qint64 now) const override;
    inputs::OverrideView inputs(int channel) const override;
    // The channel window's own colour; invalid for the one that has none.
    QColor colour(int channel) const;

private:
    std::array<channels::ChannelWindow*, 8> m_channels;
    std::array<QLineEdit*, 8> m_locations;
    inputs::InputsAccess* m_inputs;
};

} // namespace kestra::shell
