#pragma once

#include "service/mqtt/link.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>

namespace kestra::model {
class SwitchModel;
}
namespace kestra::week {
class WeekModel;
}
namespace kestra::history {
class Recorder;
}

namespace kestra::service {

// The switch on an MQTT broker, with or without windows: owns the link, feeds
// it what the model, the week and the history know, and hands its mode
// commands to the channels. The link does the network on a thread of its own,
// so nothing here waits for the broker.
class HomeAutomation : public QObject
{
    Q_OBJECT
public:
    // How long a stop may wait for the broker to take the last states: SIGTERM
    // must end the program within about a second.
    static constexpr std::chrono::milliseconds kStopWithin{500};

    // `command` takes the link's mode commands (the service's one way in for them).
    HomeAutomation(model::SwitchModel& model, week::WeekModel& week, history::Recorder& recorder,
                   std::function<void(int, channels::Mode)> command, QObject* parent = nullptr);

    mqtt::Link& link() { return m_link; }

    // Once the switch has loaded: the settings from the placement file, and
    // everything known so far handed to the link.
    void start();
    // After the model's unload wrote the all-OFF byte: those states, then
    // "offline", and the disconnect, within kStopWithin.
    void stop();

private:
    void feedOutputs(quint8 byte);
    void feedModes();
    void feedNext(int output);
    void feedHours();
    void feedInputs();
    void feedLocations();

    model::SwitchModel& m_model;
    week::WeekModel& m_week;
    history::Recorder& m_recorder;
    std::function<void(int, channels::Mode)> m_command;
    mqtt::Link m_link;
    QTimer m_hoursTimer;
    bool m_started = false;
};

} // namespace kestra::service
