#pragma once

#include "model/context.h"
#include "model/switchmodel.h"
#include "model/weeksource.h"
#include "week/model.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

namespace kestra::history {
class Recorder;
}
namespace kestra::api {
class Api;
}
namespace kestra::web {
class Web;
}

namespace kestra::service {

class HomeAutomation;

// The running time switch, with or without windows: the switch model, the
// week and next switchings that follow every scan, and the history that listens
// at the port. The windows are views on top of it; the service without windows
// runs it alone.
class Service : public QObject
{
    Q_OBJECT
public:
    Service(const model::Context& ctx, const QString& historyPath, QObject* parent = nullptr);
    ~Service() override;

    model::SwitchModel& model() { return m_model; }
    week::WeekModel& week() { return m_week; }
    history::Recorder& recorder() { return *m_recorder; }
    // The link to an MQTT broker (home automation).
    HomeAutomation& homeAutomation() { return *m_home; }
    // The API that clients (scripts, `kestra3 ctl`) use on 127.0.0.1.
    api::Api& api() { return *m_api; }

    // Where the service's own notices appear (the main window); null: none.
    void setWindow(QObject* window) { m_window = window; }

    // Start-up as the switch does it (see SwitchModel::load); the writes of it
    // are the start-up's in the history, the later ones the scan's.
    void start(const std::function<void()>& placement = {});
    // Shutdown: outputs OFF, the broker told so, the API's clients too (no command
    // is taken from the moment it begins), records saved, history closed.
    void stop();

    // A mode command from outside the windows (home automation, a client of the
    // API): as if the option were chosen in the output's window and OK pressed
    // for the mode alone. Not acted on once the end has begun.
    void requestMode(int output, channels::Mode mode);

    // Brings the week and the next switchings up to date; runs after each scan.
    void refreshWeek();

private:
    void openHistory();
    void tell(const QString& text);

    model::SwitchModel m_model;
    model::ModelWeekSource m_weekSource;
    week::WeekModel m_week;
    std::unique_ptr<history::Recorder> m_recorder;
    std::unique_ptr<HomeAutomation> m_home;
    // The web page on the API's server; goes after the API, whose server threads ask it.
    std::unique_ptr<web::Web> m_web;
    std::unique_ptr<api::Api> m_api;
    QPointer<QObject> m_window;
    bool m_started = false;
};

} // namespace kestra::service
