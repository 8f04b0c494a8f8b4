#pragma once

#include "common/buildconfig.h"

#include <QString>
#include <array>

namespace kestra::mqtt {

constexpr int kOutputs = 8;
constexpr int kInputs = 5;

// Another device's command topic that an output drives (a Tasmota or Shelly relay).
struct OutputTarget
{
    QString topic; // empty: none
    QString on = QStringLiteral("ON");
    QString off = QStringLiteral("OFF");

    bool operator==(const OutputTarget&) const = default;
};

// The link to a broker, kept in group "MQTT" of the placement file
// ($XDG_CONFIG_HOME/<title>.ini, private to the user).
struct Settings
{
    static constexpr int kPlainPort = 1883;
    static constexpr int kTlsPort = 8883;

    bool enabled = false;
    QString host = QStringLiteral("localhost");
    int port = kPlainPort;
    bool tls = false;
    QString caFile; // empty: the system's certificate authorities
    QString username;
    QString password; // never printed, never published
    QString name;     // the device's id in topics, client id and unique ids
    QString baseTopic = QStringLiteral("kestra");
    bool discovery = true;
    QString discoveryPrefix = QStringLiteral("homeassistant");
    std::array<OutputTarget, kOutputs> outputs;

    bool operator==(const Settings&) const = default;

    // A value that is missing or unusable reads as its default; the name is
    // sanitised, so what comes back can always be used in topics.
    static Settings load(const QString& title);
    // Writes every key; the file is made private before the password reaches it.
    void save(const QString& title) const;

    // "kestra/kestra3-office": the first levels of this device's topics.
    QString root() const { return baseTopic + QLatin1Char('/') + name; }
};

// Lower case, every character outside a-z 0-9 _ - as '-'.
QString sanitizeName(const QString& text);
// The build's title and the host name: "kestra3-office".
QString defaultName(const QString& title);
QString defaultName(const BuildConfig& build);
// A topic level list a publisher may use: no wildcards, no empty result, no
// leading or trailing '/'. Anything else gives `fallback`.
QString cleanTopicPrefix(const QString& text, const QString& fallback);

} // namespace kestra::mqtt
