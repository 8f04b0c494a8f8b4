#pragma once

#include "client/remoteswitch.h"
#include "logic/calendar/settings.h"
#include "logic/inputs/inputlogic.h"
#include "logic/mqtt/settings.h"
#include "logic/schedule/schedule.h"
#include "logic/week/pulseplan.h"

#include <QJsonObject>
#include <optional>
#include <vector>

namespace kestra::client {

// The switch's words in the API turned back into the values its logic takes,
// so that a view in another process computes what the switch computes; and an
// edit of those values put into the API's commands.

// Output m's controls as its window shows them (the draft).
channels::ChannelControls controlsOf(const Output& o);
// The pulse of output 1 or 2 as it stands; nothing when it does not pulse.
std::optional<week::PulsePlan> pulsePlanOf(const Output& o);
// What the input rules of output m read: levels, mapping boxes, hold.
inputs::OverrideView overrideOf(const QJsonObject& inputs, int output);
// The calendar's settings (place, twilight, anchors, presence, holidays).
// Throws Failure 13 naming the fault when `calendar` names a file that cannot be read.
calendar::Settings calendarOf(const QJsonObject& calendar);

// The calendar commands that turn `before` into `after` (docs/api.md), in the
// order they are to be sent; none when nothing changed.
std::vector<QJsonObject> calendarCommands(const calendar::Settings& before, const calendar::Settings& after);

// The link's settings as the switch's "mqtt" tells them. The switch never tells
// the password: it is empty here, and `passwordSet` says whether one is stored.
mqtt::Settings mqttSettingsOf(const QJsonObject& mqtt, bool* passwordSet = nullptr);
// The command that stores and applies `s`; without `password` the stored one is kept.
QJsonObject mqttSettingsCommand(const mqtt::Settings& s, const std::optional<QString>& password);

} // namespace kestra::client
