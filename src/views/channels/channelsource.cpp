#include "views/channels/channelsource.h"

#include "model/channel.h"
#include "model/pulse.h"

#include <QWidget>

namespace kestra::channels {

LocalChannel::LocalChannel(model::Channel& channel, QObject* parent) : ChannelSource(parent), m_channel(channel)
{
    connect(&m_channel, &model::Channel::settingsChanged, this, &ChannelSource::settingsChanged);
    // The draft is shared: what another view (the API, the web page) edits shows here too.
    connect(&m_channel, &model::Channel::edited, this, &ChannelSource::settingsChanged);
    connect(&m_channel, &model::Channel::stateChanged, this, &ChannelSource::stateChanged);
    if (m_channel.pulse())
        connect(m_channel.pulse(), &model::Pulse::changed, this, &ChannelSource::pulseChanged);
}

int LocalChannel::number() const { return m_channel.number(); }
QString LocalChannel::caption() const { return m_channel.caption(); }
bool LocalChannel::day(int d) const { return m_channel.day(d); }
bool LocalChannel::finishDay(int d) const { return m_channel.finishDay(d); }
Mode LocalChannel::mode() const { return m_channel.mode(); }
int LocalChannel::timeCount() const { return m_channel.timeCount(); }
QString LocalChannel::timeText(int index) const { return m_channel.time(index).text(); }
bool LocalChannel::offersStartTimes(int index) const { return m_channel.time(index).offersStartTimes(); }
QStringList LocalChannel::startTimes() const { return m_channel.startTimes(); }
QStringList LocalChannel::runTimes() const { return m_channel.runTimes(); }
bool LocalChannel::timeEditPending(int index) const { return m_channel.time(index).editPending(); }
State LocalChannel::state() const { return m_channel.state(); }
bool LocalChannel::isLive() const { return m_channel.isLoaded(); }

void LocalChannel::clickDay(int d, bool ticked) { m_channel.clickDay(d, ticked); }
void LocalChannel::clickFinishDay(int d, bool ticked) { m_channel.clickFinishDay(d, ticked); }
void LocalChannel::selectMode(Mode mode) { m_channel.selectMode(mode); }
void LocalChannel::editTime(int index, const QString& text) { m_channel.editTime(index, text); }
void LocalChannel::setTimeFocus(int index, bool focused) { m_channel.setTimeFocus(index, focused); }
void LocalChannel::finishTimeEdit(int index) { m_channel.finishTimeEdit(index); }
void LocalChannel::ok() { m_channel.ok(); }
bool LocalChannel::hasPulse() const { return m_channel.pulse(); }

QStringList LocalChannel::pulseEntries(bool onList) const
{
    return onList ? m_channel.pulse()->onEntries() : m_channel.pulse()->offEntries();
}

QString LocalChannel::pulseSelection(bool onList) const
{
    return onList ? m_channel.pulse()->onSelection() : m_channel.pulse()->offSelection();
}

QString LocalChannel::pulseCounter(bool start) const
{
    return start ? m_channel.pulse()->startCounter() : m_channel.pulse()->stopCounter();
}

void LocalChannel::startPulse() { m_channel.startPulse(); }
void LocalChannel::stopPulse() { m_channel.stopPulse(); }
void LocalChannel::selectPulse(bool onList, const QString& entry) { m_channel.selectPulse(onList, entry); }
void LocalChannel::setWindow(QWidget* window) { m_channel.errors().setWindow(window); }

} // namespace kestra::channels
