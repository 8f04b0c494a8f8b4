#pragma once

#include <QMainWindow>
#include <QUrl>
#include <array>

class QGridLayout;
class QLabel;
class QMenu;
class QLineEdit;
class QPushButton;

namespace kestra::channels {
class ChannelWindow;
}
namespace kestra::inputs {
class InputsWindow;
}
namespace kestra::service {
class Service;
}
namespace kestra::calendarview {
class CalendarWindow;
}
namespace kestra::week {
class WeekModel;
class WeekView;
} // namespace kestra::week
namespace kestra::ui {
class ElidedLabel;
}

namespace kestra::shell {

class AboutWindow;
class Logo;
class StatusTips;

// frmMain: one row per output and per input and the commands. It shows what
// the switch's main scan made of the eight channel states, and owns the other
// windows, which it makes hidden.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(service::Service& service, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Starts the switch: every part loads, the placement is restored, the
    // record read, the control register set and the stored output byte put back.
    void load();

    service::Service& service() const { return m_service; }

    channels::ChannelWindow* channelWindow(int channel) const { return m_channels.at(channel - 1); }
    inputs::InputsWindow* inputsWindow() const { return m_inputs; }
    AboutWindow* aboutWindow() const { return m_about; }
    // The whole port state: the status line's tool tip and the About window's text.
    QString portLine() const;
    // The week of the eight outputs.
    week::WeekModel* weekModel() const;
    // The week view, once it has been shown.
    week::WeekView* weekView() const { return m_weekView; }
    // The View menu, where other parts of the program add their windows.
    QMenu* viewMenu() const { return m_viewMenu; }
    // The tool tip of output m's Status field: its next switching and its operating hours.
    QString statusTip(int channel) const;
    // "Sun, holidays and presence" of output m, opened from its window.
    calendarview::CalendarWindow* showCalendar(int channel);

    // Closing as the user does it (the window's close button, File, Exit) asks
    // first; a session that ends, a signal or a test's close() never does.
    // With the session ending, no close asks any more.
    void sessionEnding();

public slots:
    void showChannel(int channel);
    void showInputs();
    void showAbout();
    // File, Start at login: writes or removes this build's autostart entry.
    void showWeek();
    // File, Exit: asks, then ends the program as closing the window does.
    void exitByUser();
    // View, Port panel: starts the virtual port panel beside the program.
    void startPanel();
    // Help, Contents: the help page.

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void buildWidgets();
    void unload();
    void restorePlacement();
    void showScan();
    void showLocations();
    void updatePortLine();
    void showNext(int channel);
    void placeNextTexts();
    QString statusToolTip(int channel) const;
    void buildNextLine(QGridLayout* grid, int row);
    void showNextLine();
    void buildPanelItem(QMenu* view);
    void showPanelItem();
    void watchSessionEnd();
    bool askToStop();
    void showModesToInputs();

    service::Service& m_service;
    std::array<channels::ChannelWindow*, 8> m_channels{};
    inputs::InputsWindow* m_inputs = nullptr;
    AboutWindow* m_about = nullptr;
    std::array<QLineEdit*, 8> m_status{};
    std::array<QLineEdit*, 5> m_inputTexts{};
    std::array<QLineEdit*, 13> m_locations{};
    std::array<QLabel*, 8> m_next{};
    ui::ElidedLabel* m_nextLine = nullptr;
    QAction* m_panelItem = nullptr;
    week::WeekView* m_weekView = nullptr;
    calendarview::CalendarWindow* m_calendar = nullptr;
    ui::ElidedLabel* m_portLabel = nullptr;
    QMenu* m_viewMenu = nullptr;
    StatusTips* m_statusTips = nullptr;
    bool m_unloaded = false;
    bool m_sessionEnding = false;
    bool m_asking = false;
};

} // namespace kestra::shell
