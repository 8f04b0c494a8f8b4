#pragma once

#include "logic/week/weekmodel.h"

namespace kestra::client {

class RemoteSwitch;

// The week of a running switch in another process, as its API tells it: each
// output's draft, pulse, hold and the calendar, computed here by the same
// logic as in the switch.
class RemoteWeekSource final : public week::WeekSource
{
public:
    explicit RemoteWeekSource(const RemoteSwitch& remote) : m_remote(remote) {}

    channels::ChannelControls controls(int channel) const override;
    QString location(int channel) const override;
    State state(int channel) const override;
    std::optional<week::PulsePlan> pulse(int channel, qint64 now) const override;
    inputs::OverrideView inputs(int channel) const override;
    std::shared_ptr<const calendar::Settings> calendar() const override;

    // The calendar was told anew: decoded once, not at every look.
    void calendarChanged();

private:
    const RemoteSwitch& m_remote;
    std::shared_ptr<const calendar::Settings> m_calendar;
};

} // namespace kestra::client
