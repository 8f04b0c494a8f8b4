#include "views/calendar/calendarsource.h"

#include "base/failure.h"
#include "base/timetext.h"
#include "client/decode.h"
#include "client/remoteswitch.h"
#include "model/channel.h"
#include "model/switchmodel.h"

#include <QJsonArray>
#include <QJsonObject>
#include <memory>

namespace kestra::calendarview {

namespace {

const QString kNotRunning =
    QStringLiteral("The time switch is not running. Nothing was stored; the window attaches again as soon as "
                   "the switch is back.");

// Sends commands[i] and, once it is carried out, the next.
void sendFrom(client::RemoteSwitch& remote, const QObject* context,
              std::shared_ptr<const std::vector<QJsonObject>> commands, size_t i,
              std::function<void(const QString&)> done)
{
    if (i == commands->size()) {
        done({});
        return;
    }
    remote.send(commands->at(i), context,
                [&remote, context, commands, i, done](const client::CommandResult& r) {
                    if (!r.ok()) {
                        const QString text = !r.text.isEmpty() ? r.text : r.description;
                        done(text.isEmpty() ? kNotRunning : text);
                        return;
                    }
                    sendFrom(remote, context, commands, i + 1, done);
                });
}

} // namespace

LocalCalendar::LocalCalendar(model::SwitchModel& model, QObject* parent)
    : CalendarSource(parent), m_model(model)
{
    connect(&m_model, &model::SwitchModel::calendarChanged, this, &CalendarSource::changed);
}

QString LocalCalendar::title() const
{
    return m_model.build().title;
}
calendar::Settings LocalCalendar::forEdit() const
{
    return m_model.calendarForEdit();
}
QString LocalCalendar::location(int output) const
{
    return m_model.location(output);
}
channels::ChannelControls LocalCalendar::controls(int output) const
{
    return m_model.channel(output).controls();
}

void LocalCalendar::store(const calendar::Settings&, const calendar::Settings& after,
                          std::function<void(const QString&)> done)
{
    try {
        m_model.saveCalendar(after);
    } catch (const Failure& f) {
        done(f.description);
        return;
    }
    done({});
}

RemoteCalendar::RemoteCalendar(client::RemoteSwitch& remote, QObject* parent)
    : CalendarSource(parent), m_remote(remote)
{
    connect(&m_remote, &client::RemoteSwitch::calendarChanged, this, &CalendarSource::changed);
    connect(&m_remote, &client::RemoteSwitch::attached, this, &CalendarSource::changed);
    connect(&m_remote, &client::RemoteSwitch::detached, this, &CalendarSource::changed);
}

QString RemoteCalendar::title() const
{
    return m_remote.title().isEmpty() ? QStringLiteral("KESTRA") : m_remote.title();
}

bool RemoteCalendar::isReachable() const
{
    return m_remote.isAttached();
}

calendar::Settings RemoteCalendar::forEdit() const
{
    if (!m_remote.isAttached()) throw Failure(failure::kConversion, kNotRunning);
    return client::calendarOf(m_remote.calendar());
}

QString RemoteCalendar::location(int output) const
{
    return m_remote.output(output).location;
}
channels::ChannelControls RemoteCalendar::controls(int output) const
{
    return client::controlsOf(m_remote.output(output));
}

void RemoteCalendar::store(const calendar::Settings& before, const calendar::Settings& after,
                           std::function<void(const QString&)> done)
{
    if (!m_remote.isAttached()) {
        done(kNotRunning);
        return;
    }
    // The switch judges each command alike; judged whole here first, a fault
    // leaves the calendar as it was instead of half changed.
    if (const QString fault = calendar::fault(after); !fault.isEmpty()) {
        done(fault);
        return;
    }
    auto commands = std::make_shared<const std::vector<QJsonObject>>(client::calendarCommands(before, after));
    sendFrom(m_remote, this, commands, 0, std::move(done));
}

} // namespace kestra::calendarview
