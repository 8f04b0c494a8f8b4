#include "client/remoteweek.h"

#include "base/failure.h"
#include "client/decode.h"
#include "client/remoteswitch.h"

namespace kestra::client {

channels::ChannelControls RemoteWeekSource::controls(int channel) const
{
    return controlsOf(m_remote.output(channel));
}

QString RemoteWeekSource::location(int channel) const
{
    return m_remote.output(channel).location;
}

State RemoteWeekSource::state(int channel) const
{
    const QString& s = m_remote.output(channel).state;
    if (s == QLatin1String("ON")) return State::On;
    if (s == QLatin1String("OFF")) return State::Off;
    return State::Calculating;
}

std::optional<week::PulsePlan> RemoteWeekSource::pulse(int channel, qint64) const
{
    // The switch told when the running phase ends; the phases after it follow the selections.
    return pulsePlanOf(m_remote.output(channel));
}

inputs::OverrideView RemoteWeekSource::inputs(int channel) const
{
    return overrideOf(m_remote.inputs(), channel);
}

std::shared_ptr<const calendar::Settings> RemoteWeekSource::calendar() const
{
    return m_calendar;
}

void RemoteWeekSource::calendarChanged()
{
    try {
        m_calendar = std::make_shared<const calendar::Settings>(calendarOf(m_remote.calendar()));
    } catch (const Failure&) {
        // A calendar file the switch cannot read: it runs the described schedules alone.
        m_calendar = nullptr;
    }
}

} // namespace kestra::client
