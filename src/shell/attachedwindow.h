#pragma once

#include "base/buildconfig.h"
#include "base/clock.h"
#include "base/ticker.h"
#include "client/remoteweek.h"
#include "logic/week/weekmodel.h"
#include "model/errorroutine.h"

#include <QMainWindow>
#include <array>

class QLabel;
class QLineEdit;

namespace kestra::client {
class RemoteHistory;
class RemoteSwitch;
}
namespace kestra::channels {
class ChannelSource;
class ChannelWindow;
}
namespace kestra::inputs {
class InputsWindow;
}
namespace kestra::calendarview {
class CalendarWindow;
}
namespace kestra::ui {
class ElidedLabel;
}
namespace kestra::week {
class WeekView;
}
namespace kestra::history {
class HistoryWindow;
}

namespace kestra::shell {

// frmMain of a program attached to the running switch of this build (the
// service): the outputs' rows, the inputs, the locations and the port line as
// the switch tells them, each output's window as a view of it. The switch goes
// on when this window closes; File, Stop the time switch ends it. While the
// switch does not answer the window says so, shows every state as unknown and
// attaches again by itself when the switch is back.
class AboutWindow;
class StatusTips;

class AttachedWindow : public QMainWindow
{
    Q_OBJECT
public:
    AttachedWindow(client::RemoteSwitch& remote, const BuildConfig& build, QWidget* parent = nullptr);
    ~AttachedWindow() override;

    // Each window is made when it is first opened: the main window shows the
    // switch's state sooner. Null until then.
    channels::ChannelWindow* channelWindow(int channel) const { return m_channels.at(channel - 1); }
    AboutWindow* aboutWindow() const { return m_about; }
    inputs::InputsWindow* inputsWindow() const { return m_inputsWindow; }
    calendarview::CalendarWindow* calendarWindow() const { return m_calendar; }
    week::WeekView* weekView() const { return m_weekView; }
    const week::WeekModel& weekModel() const { return m_week; }
    history::HistoryWindow* historyWindow() const { return m_history; }
    // The tool tip of output m's Status field: its next switching and its operating hours.
    QString statusTip(int channel) const;

public slots:
    void showChannel(int channel);
    void showAbout();
    // The week at a glance, computed here from what the switch tells.
    void showWeek();
    // The history of the switch's port: its file, read here, and its hours.
    void showHistory();
    // "Sun, holidays and presence" of output `channel`, reached from its window.
    calendarview::CalendarWindow* showCalendar(int channel);
    // File, Exit: asks, then closes the windows; the switch goes on.
    void exitByUser();
    // File, Stop the time switch: asks, then ends the switch as SIGTERM would.
    void stopSwitch();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void buildWidgets();
    void showOutput(int m);
    void showInputs();
    void showModes();
    void showLocations();
    void showPort();
    void showAttachment();
    bool askToClose();
    void refreshWeek();

    client::RemoteSwitch& m_remote;
    BuildConfig m_build;
    // The logo's relay clicks in a wake-up of its own: this program runs no switch.
    SystemClock m_clock;
    Ticker m_ticker{m_clock};
    model::ErrorRoutine m_errors;
    client::RemoteWeekSource m_weekSource{m_remote};
    week::WeekModel m_week{m_weekSource, m_clock};
    // Moves the week on while it is shown, in the wake-up of the logo.
    QTimer m_weekTimer;
    week::WeekView* m_weekView = nullptr;
    history::HistoryWindow* m_history = nullptr;
    client::RemoteHistory* m_hours = nullptr;
    StatusTips* m_statusTips = nullptr;
    std::array<channels::ChannelSource*, 8> m_sources{};
    std::array<channels::ChannelWindow*, 8> m_channels{};
    AboutWindow* m_about = nullptr;
    inputs::InputsWindow* m_inputsWindow = nullptr;
    calendarview::CalendarWindow* m_calendar = nullptr;
    std::array<QLineEdit*, 8> m_status{};
    std::array<QLabel*, 8> m_next{};
    std::array<QLineEdit*, 5> m_inputTexts{};
    std::array<QLineEdit*, 13> m_locations{};
    QLabel* m_nextLine = nullptr;
    ui::ElidedLabel* m_portLabel = nullptr;
    bool m_asking = false;
    bool m_closing = false;
};

} // namespace kestra::shell
