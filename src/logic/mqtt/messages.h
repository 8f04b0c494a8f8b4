#pragma once

// What goes over the wire: topics, payloads, the discovery message, and what
// a received message means. No network here, so one table test covers it.

#include "logic/mqtt/settings.h"
#include "logic/schedule/schedule.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <array>

namespace kestra::mqtt {

// Longest command payload taken: "  auto  " fits, a pasted file does not.
constexpr int kMaxCommandBytes = 32;

QString availabilityTopic(const Settings& s);
// leaf: "state", "mode", "next", "hours" or "mode/set"
QString outputTopic(const Settings& s, int output, const char* leaf);
QString inputTopic(const Settings& s, int input);
// Home Assistant's device-based discovery: DiscoveryPrefix/device/Name/config.
QString discoveryTopic(const Settings& s);
// Where Home Assistant says it (re)started: DiscoveryPrefix/status.
QString birthTopic(const Settings& s);

QByteArray onOffPayload(bool on);
// "AUTO", "ON", "OFF"; "None" when no option is selected (Home Assistant shows unknown).
QByteArray modePayload(channels::Mode mode);
// ISO 8601 with the UTC offset of the time given; "None" when there is none.
QByteArray nextPayload(const QDateTime& at);
QByteArray hoursPayload(double hours);

// The discovery message: the device, its availability and one component per
// entity. `locations` name the outputs ("Porch light"); empty: "Output N".
QByteArray discoveryPayload(const Settings& s, const QString& model, const QString& version,
                            const std::array<QString, kOutputs>& locations);

struct Received
{
    enum class Kind {
        Command, // a mode command to act on
        Birth,   // Home Assistant came online: discovery is due again
        Own,     // one of this device's own state topics: nothing to do
        Ignored, // anything else; `why` says what was wrong
    };
    Kind kind = Kind::Ignored;
    int output = 0;
    channels::Mode mode = channels::Mode::None;
    QString why;
};

// What a message that arrived on `topic` means. A retained command is never
// acted on: it would switch a relay again at every reconnect.
Received classify(const Settings& s, const QString& topic, const QByteArray& payload, bool retained);

} // namespace kestra::mqtt
