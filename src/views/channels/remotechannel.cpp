#include "views/channels/remotechannel.h"

#include "client/remoteswitch.h"
#include "model/teller.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QWidget>

namespace kestra::channels {

namespace {

// Told when an edit is made while the switch does not answer.
const QString kNotRunning =
    QStringLiteral("The time switch is not running. The edit was not made; the window attaches again as soon "
                   "as the switch is back.");

} // namespace

RemoteChannel::RemoteChannel(client::RemoteSwitch& remote, int number, QObject* parent)
    : ChannelSource(parent), m_remote(remote), m_number(number)
{
    connect(&m_remote, &client::RemoteSwitch::outputChanged, this, [this](int m) {
        if (m != m_number) return;
        emit settingsChanged();
        emit stateChanged();
        emit pulseChanged();
    });
    const auto all = [this] {
        emit settingsChanged();
        emit stateChanged();
        emit pulseChanged();
    };
    connect(&m_remote, &client::RemoteSwitch::attached, this, all);
    connect(&m_remote, &client::RemoteSwitch::detached, this, all);
    connect(&m_remote, &client::RemoteSwitch::presetsChanged, this, &ChannelSource::settingsChanged);
}

RemoteChannel::~RemoteChannel() = default;

// The lists of the time boxes are those the switch offers: the same database
// tables, read by the switch only.
QStringList RemoteChannel::startTimes() const
{
    return m_remote.startTimes();
}

QStringList RemoteChannel::runTimes() const
{
    return m_remote.runTimes();
}

QString RemoteChannel::caption() const
{
    // The caption is set once, as the switch's window sets it at load.
    if (m_caption.isEmpty()) const_cast<RemoteChannel*>(this)->m_caption = m_remote.output(m_number).caption;
    return m_caption;
}

bool RemoteChannel::day(int d) const { return m_remote.output(m_number).days.at(size_t(d)); }
bool RemoteChannel::finishDay(int d) const { return m_remote.output(m_number).finishDays.at(size_t(d)); }

Mode RemoteChannel::mode() const
{
    return parseMode(m_remote.output(m_number).mode).value_or(Mode::None);
}

int RemoteChannel::timeCount() const { return int(m_remote.output(m_number).times.size()); }

QString RemoteChannel::timeText(int index) const
{
    const auto& times = m_remote.output(m_number).times;
    return index < int(times.size()) ? times.at(size_t(index)).text : QString();
}

bool RemoteChannel::timeEditPending(int) const
{
    // The switch judges a text at the end of the edit only when it is pending.
    return true;
}

State RemoteChannel::state() const
{
    const QString& s = m_remote.output(m_number).state;
    if (s == QLatin1String("ON")) return State::On;
    if (s == QLatin1String("OFF")) return State::Off;
    return State::Calculating;
}

bool RemoteChannel::isLive() const { return m_remote.isAttached(); }
bool RemoteChannel::isReachable() const { return m_remote.isAttached(); }

void RemoteChannel::send(QJsonObject command)
{
    command.insert(QStringLiteral("output"), m_number);
    if (!m_remote.isAttached()) {
        tell(kNotRunning);
        emit settingsChanged(); // the window shows the switch's draft again
        emit pulseChanged();
        return;
    }
    m_remote.send(command, this, [this](const client::CommandResult& r) {
        if (r.ok()) return;
        tell(r.text);
        emit settingsChanged();
        emit pulseChanged();
    });
}

void RemoteChannel::clickDay(int d, bool ticked)
{
    send({{"command", "day"}, {"day", d}, {"ticked", ticked}});
}

void RemoteChannel::clickFinishDay(int d, bool ticked)
{
    send({{"command", "finishDay"}, {"day", d}, {"ticked", ticked}});
}

void RemoteChannel::selectMode(Mode mode)
{
    send({{"command", "select"}, {"mode", modeName(mode)}});
}

void RemoteChannel::editTime(int index, const QString& text)
{
    send({{"command", "time"}, {"index", index}, {"text", text}, {"finish", false}});
}

void RemoteChannel::setTimeFocus(int index, bool focused)
{
    if (!m_remote.isAttached()) return; // focus alone is no edit worth a message
    m_remote.send({{"command", "timeFocus"}, {"output", m_number}, {"index", index}, {"focused", focused}});
}

void RemoteChannel::finishTimeEdit(int index)
{
    send({{"command", "finishTime"}, {"index", index}});
}

void RemoteChannel::ok()
{
    send({{"command", "ok"}});
}

QStringList RemoteChannel::pulseEntries(bool onList) const
{
    QStringList out;
    const QJsonObject& pulse = m_remote.output(m_number).pulse;
    for (const QJsonValue& v :
         pulse.value(onList ? QLatin1String("onEntries") : QLatin1String("offEntries")).toArray())
        out << v.toString();
    return out;
}

QString RemoteChannel::pulseSelection(bool onList) const
{
    const QJsonObject& pulse = m_remote.output(m_number).pulse;
    return pulse.value(onList ? QLatin1String("onSelection") : QLatin1String("offSelection")).toString();
}

QString RemoteChannel::pulseCounter(bool start) const
{
    // A number while it counts; the text the switch holds when that is none.
    const QJsonValue v = m_remote.output(m_number).pulse.value(start ? QLatin1String("startCounter")
                                                                     : QLatin1String("stopCounter"));
    return v.isDouble() ? QString::number(v.toInteger()) : v.toString();
}

void RemoteChannel::startPulse()
{
    send({{"command", "pulseStart"}});
}

void RemoteChannel::stopPulse()
{
    send({{"command", "pulseStop"}});
}

void RemoteChannel::selectPulse(bool onList, const QString& entry)
{
    if (entry == pulseSelection(onList)) return; // the switch's own choice, shown again
    send({{"command", "pulseSelect"}, {"list", onList ? "on" : "off"}, {"entry", entry}});
}

void RemoteChannel::setWindow(QWidget* window)
{
    m_window = window;
}

void RemoteChannel::tell(const QString& text)
{
    const QString title = m_remote.title().isEmpty() ? QStringLiteral("KESTRA") : m_remote.title();
    model::teller().notice(m_window, title, text);
}

} // namespace kestra::channels
