#pragma once

#include "logic/week/weekmodel.h"

namespace kestra::model {

class SwitchModel;

// The week's view of the running switch: the channels' settings (saved or
// not, as the ticks read them), their pulses, the main copy's locations and
// the inputs' override view.
class ModelWeekSource final : public week::WeekSource
{
public:
    explicit ModelWeekSource(const SwitchModel& model) : m_model(model) {}

    channels::ChannelControls controls(int channel) const override;
    QString location(int channel) const override;
    State state(int channel) const override;
    std::optional<week::PulsePlan> pulse(int channel, qint64 now) const override;
    inputs::OverrideView inputs(int channel) const override;
    std::shared_ptr<const calendar::Settings> calendar() const override;

private:
    const SwitchModel& m_model;
};

} // namespace kestra::model
