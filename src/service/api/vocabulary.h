#pragma once

#include "logic/schedule/schedule.h"

#include <QJsonObject>
#include <QString>
#include <functional>
#include <optional>

namespace kestra::model {
class SwitchModel;
}
namespace kestra::week {
class WeekModel;
}
namespace kestra::history {
class Recorder;
}
namespace kestra::mqtt {
class Link;
}

namespace kestra::api {

// What the API reads and steers: the parts of the running switch. Everything is
// read and called on the main thread.
struct Sources
{
    model::SwitchModel& model;
    week::WeekModel& week;
    history::Recorder& recorder;
    mqtt::Link& link;
    // The one entry point of mode commands from outside the windows.
    std::function<void(int output, channels::Mode mode)> requestMode;
};

using channels::modeName;
using channels::parseMode;

// The vocabulary of version 1 (docs/api.md): each object as it stands now.
QJsonObject outputJson(const Sources& s, int output);
QJsonObject inputsJson(const Sources& s);
QJsonObject portJson(const Sources& s);
QJsonObject mqttJson(const Sources& s);
QJsonObject locationsJson(const Sources& s);
// The place, twilight, today's sun, each output's anchors and presence, the holidays.
QJsonObject calendarJson(const Sources& s);
// All of it: {"api": 1, "title", "outputs": [...], "inputs", "port", "polarity", "mqtt", "locations",
// "calendar", "next"}.
QJsonObject stateJson(const Sources& s);

} // namespace kestra::api
