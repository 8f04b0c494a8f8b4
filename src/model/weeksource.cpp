#include "model/weeksource.h"

#include "model/pulse.h"
#include "model/switchmodel.h"

namespace kestra::model {

channels::ChannelControls ModelWeekSource::controls(int channel) const
{
    return m_model.channel(channel).controls();
}

QString ModelWeekSource::location(int channel) const
{
    return m_model.location(channel);
}

State ModelWeekSource::state(int channel) const
{
    return m_model.channel(channel).state();
}

std::optional<week::PulsePlan> ModelWeekSource::pulse(int channel, qint64 now) const
{
    const Pulse* p = m_model.channel(channel).pulse();
    return p ? p->plan(now) : std::nullopt;
}

inputs::OverrideView ModelWeekSource::inputs(int channel) const
{
    return m_model.inputs().overrideView(channel);
}

std::shared_ptr<const calendar::Settings> ModelWeekSource::calendar() const
{
    return m_model.calendar();
}

} // namespace kestra::model
