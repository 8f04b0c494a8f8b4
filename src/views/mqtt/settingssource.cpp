#include "views/mqtt/settingssource.h"

#include "client/decode.h"
#include "client/remoteswitch.h"
#include "service/mqtt/link.h"

namespace kestra::mqtt {

namespace {
const QString kNotRunning =
    QStringLiteral("the time switch is not running; the window attaches again as soon as it is back");
}

QString SettingsSource::defaultName() const
{
    return mqtt::defaultName(m_title);
}

LocalSettings::LocalSettings(Link& link, QString title, QObject* parent)
    : SettingsSource(std::move(title), parent), m_link(link)
{
    connect(&m_link, &Link::stateChanged, this, &SettingsSource::stateChanged);
    connect(&m_link, &Link::settingsChanged, this, &SettingsSource::stateChanged);
}

Settings LocalSettings::stored() const
{
    return Settings::load(m_title);
}
bool LocalSettings::passwordSet() const
{
    return !stored().password.isEmpty();
}
QString LocalSettings::stateText() const
{
    return m_link.stateText();
}
QString LocalSettings::shortState() const
{
    return m_link.shortState();
}
bool LocalSettings::stateShown() const
{
    return m_link.settings().enabled;
}

void LocalSettings::store(const Settings& s, const std::optional<QString>& password,
                          std::function<void(const QString&)> done)
{
    Settings taken = s;
    if (password) taken.password = *password;
    if (const QString why = taken.save(m_title); !why.isEmpty()) {
        done(why);
        return;
    }
    m_link.apply(taken);
    done({});
}

RemoteSettings::RemoteSettings(client::RemoteSwitch& remote, QString title, QObject* parent)
    : SettingsSource(std::move(title), parent), m_remote(remote)
{
    connect(&m_remote, &client::RemoteSwitch::mqttChanged, this, &SettingsSource::stateChanged);
    connect(&m_remote, &client::RemoteSwitch::attached, this, &SettingsSource::stateChanged);
    connect(&m_remote, &client::RemoteSwitch::detached, this, &SettingsSource::stateChanged);
}

Settings RemoteSettings::stored() const
{
    return client::mqttSettingsOf(m_remote.mqtt());
}
bool RemoteSettings::passwordSet() const
{
    bool set = false;
    client::mqttSettingsOf(m_remote.mqtt(), &set);
    return set;
}
QString RemoteSettings::stateText() const
{
    // A state the switch told before it went is not shown as live.
    if (!m_remote.isAttached()) return QStringLiteral("The time switch is not running.");
    return m_remote.mqtt().value(QStringLiteral("text")).toString();
}
QString RemoteSettings::shortState() const
{
    return m_remote.mqtt().value(QStringLiteral("state")).toString();
}
bool RemoteSettings::stateShown() const
{
    return m_remote.isAttached() && m_remote.mqtt().value(QStringLiteral("enabled")).toBool();
}

void RemoteSettings::store(const Settings& s, const std::optional<QString>& password,
                           std::function<void(const QString&)> done)
{
    if (!m_remote.isAttached()) {
        done(kNotRunning);
        return;
    }
    m_remote.send(client::mqttSettingsCommand(s, password), this, [done](const client::CommandResult& r) {
        if (r.ok()) {
            done({});
            return;
        }
        // The switch's reason as its window words it; a refusal of the request
        // itself (400) has its text alone.
        if (!r.description.isEmpty())
            done(r.description);
        else if (r.status == 0)
            done(kNotRunning);
        else
            done(r.text);
    });
}

} // namespace kestra::mqtt
