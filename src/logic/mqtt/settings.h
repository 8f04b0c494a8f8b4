#pragma once

#include "base/buildconfig.h"

#include <QJsonObject>
#include <QString>
#include <array>
#include <optional>

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
    // Why these settings cannot be used (a wildcard in the base topic, "Tls=maybe"):
    // the link then makes no connection at all. Empty: they can.
    QString problem;

    bool operator==(const Settings&) const = default;

    // A missing value reads as its default; the name is sanitised. A value
    // that is there but cannot work is not replaced: it is named in `problem`.
    static Settings load(const QString& title);
    // Writes every key; the file is made private before the password reaches it.
    // Empty when the placement file holds them, else why it does not.
    [[nodiscard]] QString save(const QString& title) const;

    // "kestra/kestra3-office": the first levels of this device's topics.
    QString root() const { return baseTopic + QLatin1Char('/') + name; }
};

// Longest Name and BaseTopic or DiscoveryPrefix taken (a topic may have 65535
// bytes; these leave room for the rest and for a broker's own limit).
constexpr int kMaxNameChars = 100;
constexpr int kMaxPrefixBytes = 200;
// Longest Host taken: a DNS name has 253 characters at most.
constexpr int kMaxHostChars = 253;

// Lower case, every character outside a-z 0-9 _ - as '-'.
QString sanitizeName(const QString& text);
// The build's title, the host name and a short mark of this machine (from its
// machine id, hashed), so that two machines with one host name differ:
// "kestra3-office-3fa9c1". Without a machine id, the first two alone.
QString defaultName(const QString& title);
QString defaultName(const BuildConfig& build);
// What a placement file of an earlier version meant by a missing Name: the
// title and the host name alone ("kestra3-office").
QString hostDefaultName(const QString& title);
// Without blanks around it and without leading or trailing '/'.
QString cleanTopicPrefix(const QString& text);
// Why a BaseTopic or DiscoveryPrefix (cleaned) or a Name (trimmed, before it is
// sanitised; empty is the default) cannot work; empty when it can.
QString topicPrefixProblem(const QString& cleaned);
QString nameProblem(const QString& trimmed);
// Why a Host (trimmed, not empty) cannot be a broker's name or address; empty when it can.
QString hostProblem(const QString& trimmed);
// A flag of the placement file: true, yes, on, 1 / false, no, off, 0, in any
// case; a number as the settings database reads one. Nothing for anything else.
std::optional<bool> parsePlacementFlag(const QString& text);
// Takes the texts as typed or read: the name sanitised (or the default when
// empty), the topics cleaned, and the first that cannot work named in s.problem.
void takeNames(Settings& s, const QString& name, const QString& baseTopic, const QString& discoveryPrefix,
               const QString& defaultName);
// Settings as a person typed them (the window's boxes, a client's command),
// taken as the window takes them: the host and the outputs' topics without the
// blanks around them (no host is the default one), the names as takeNames takes
// them, and the first value that cannot work named in `problem`.
Settings takeTyped(const Settings& typed, const QString& defaultName);
// The settings as the API tells and takes them, the password left out: the
// same keys both ways ("host", "outputs": [{"output", "topic", "on", "off"}], ...).
QJsonObject settingsJson(const Settings& s);
// What settingsJson wrote; a key that is not there keeps its default.
Settings settingsOfJson(const QJsonObject& o);
// What the window says of settings it does not store: "Not saved: <problem>."
QString notSavedText(const QString& problem);
// Whether a password kept from `stored` may go to the broker of `typed`: only
// to the same host and port, with the same TLS and certificate authorities, so
// that a view that never sees the password cannot send it elsewhere. Empty when
// it may, else why not.
QString keptPasswordProblem(const Settings& stored, const Settings& typed);

// What the link last announced on a broker, kept in the placement file so
// that the first connect after a change of Name, BaseTopic, DiscoveryPrefix
// or Discovery removes the old device once. Nothing known: an earlier version
// (or none) connected.
struct Announced
{
    bool known = false;
    QString discoveryTopic; // empty: no discovery announced
    QString availabilityTopic;

    bool operator==(const Announced&) const = default;
    static Announced load(const QString& title);
    void save(const QString& title) const;
};

} // namespace kestra::mqtt
