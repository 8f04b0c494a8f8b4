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

    // Where the service's own notices appear (the main window); null: none.
    void setWindow(QObject* window) { m_window = window; }

    // Start-up as the switch does it (see SwitchModel::load); the writes of it
    // are the start-up's in the history, the later ones the scan's.
    void start(const std::function<void()>& placement = {});
    // Shutdown: outputs OFF, the broker told so, records saved, history closed.
    void stop();

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
    QPointer<QObject> m_window;
    bool m_started = false;
};

} // namespace kestra::service
