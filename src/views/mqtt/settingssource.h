#pragma once

#include "logic/mqtt/settings.h"

#include <QObject>
#include <functional>
#include <optional>

namespace kestra::client {
class RemoteSwitch;
}

namespace kestra::mqtt {

class Link;

// What the MQTT settings window shows and where it stores: the link of the
// switch in this process (LocalSettings), or that of a running switch it is
// attached to (RemoteSettings).
class SettingsSource : public QObject
{
    Q_OBJECT
public:
    SettingsSource(QString title, QObject* parent) : QObject(parent), m_title(std::move(title)) {}

    // The settings as stored. The password is there only where the window may
    // show it (showsPassword()); else it is empty and passwordSet() tells.
    virtual Settings stored() const = 0;
    virtual bool showsPassword() const = 0;
    virtual bool passwordSet() const = 0;
    // The link's state: a sentence for the window, a few words for the status line.
    virtual QString stateText() const = 0;
    virtual QString shortState() const = 0;
    // Whether the status line shows the state: the link is switched on (and,
    // for a switch elsewhere, it answers).
    virtual bool stateShown() const = 0;
    // Stores and applies `s`, taken already (takeTyped); without `password`
    // the stored one is kept. `done` gets an empty text once stored, else the
    // switch's reason; at once for the switch in this process.
    virtual void store(const Settings& s, const std::optional<QString>& password,
                       std::function<void(const QString& refusal)> done) = 0;
    // The default Name of the switch's build.
    QString defaultName() const;

signals:
    void stateChanged();

protected:
    const QString m_title; // the build's: KESTRA3 or KESTRA2
};

class LocalSettings final : public SettingsSource
{
    Q_OBJECT
public:
    LocalSettings(Link& link, QString title, QObject* parent);

    Settings stored() const override;
    bool showsPassword() const override { return true; }
    bool passwordSet() const override;
    QString stateText() const override;
    QString shortState() const override;
    bool stateShown() const override;
    void store(const Settings& s, const std::optional<QString>& password,
               std::function<void(const QString&)> done) override;

private:
    Link& m_link;
};

// The link of a running switch in another process, through its API. The
// switch never hands out the password; a store that types none keeps it.
class RemoteSettings final : public SettingsSource
{
    Q_OBJECT
public:
    RemoteSettings(client::RemoteSwitch& remote, QString title, QObject* parent);

    Settings stored() const override;
    bool showsPassword() const override { return false; }
    bool passwordSet() const override;
    QString stateText() const override;
    QString shortState() const override;
    bool stateShown() const override;
    void store(const Settings& s, const std::optional<QString>& password,
               std::function<void(const QString&)> done) override;

private:
    client::RemoteSwitch& m_remote;
};

} // namespace kestra::mqtt
