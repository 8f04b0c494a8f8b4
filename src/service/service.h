#pragma once

#include "logic/week/weekmodel.h"
#include "model/context.h"
#include "model/switchmodel.h"
#include "model/weeksource.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

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

    // Brings the week and the next switchings up to date; runs after each scan.
    void refreshWeek();

    // A mode for output 1..8 from outside the windows (the MQTT link, the HTTP
    // API): what choosing it in the output's window and OK do for the mode. The
    // one way in for every such client, so that a storm of them costs the
    // switching nothing: the latest mode per output wins and is applied at once,
    // or, when that output was commanded less than kCommandSpacing ago, at the
    // end of that spacing; the modes are stored together, once per half second
    // at most, between two ticks (kill -9 may lose the commands of the last
    // kStoreWithin). False, and nothing done, for an output or mode that is
    // none, before the start and once the end has begun.
    bool requestMode(int output, channels::Mode mode);
    static constexpr std::chrono::milliseconds kCommandSpacing{100};
    static constexpr std::chrono::milliseconds kStoreWithin{600};

private:
    void applyRequested();
    void noteCommandRate(int output, qint64 now);
    void scheduleStore();
    void storeCommanded();

    void openHistory();
    void startApi();
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
    bool m_ending = false;
    std::array<std::optional<channels::Mode>, 8> m_requested;
    std::array<std::optional<qint64>, 8> m_appliedAt;      // m_mono's ms
    std::array<std::pair<qint64, int>, 8> m_commandRate{}; // since, applied since then
    std::optional<qint64> m_rateSaidAt;
    QElapsedTimer m_mono;
    QTimer m_applyTimer;
    QTimer m_storeTimer;
};

} // namespace kestra::service
