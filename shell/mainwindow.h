#pragma once

#include "ui/context.h"
#include "ui/errorroutine.h"

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <memory>
#include <optional>

class QLineEdit;
class QPushButton;

namespace kestra::channels {
class ChannelWindow;
}
namespace kestra::inputs {
class InputsWindow;
}
namespace kestra::store {
class DataSource;
}
namespace kestra::ui {
class ElidedLabel;
}

namespace kestra::shell {

class AboutWindow;
class Logo;

// frmMain: one row per output and per input, the commands, and the main scan
// that turns the eight channel states into the output byte.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(const ui::AppContext& ctx, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Loads every other window hidden, restores the placement, reads the record,
    // sets the control register and puts the stored output byte back.
    void load();
    // One scan: what a tick of Timer1 does.
    void scan();

    channels::ChannelWindow* channelWindow(int channel) const { return m_channels.at(channel - 1); }
    inputs::InputsWindow* inputsWindow() const { return m_inputs; }
    AboutWindow* aboutWindow() const { return m_about; }
    QTimer& scanTimer() { return m_timer1; }
    // The whole port state: the status line's tool tip and the About window's text.
    QString portLine() const;

public slots:
    void showChannel(int channel);
    void showInputs();
    void showAbout();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void buildWidgets();
    void unload();
    void reread();
    void restorePlacement();
    void writeOutputByte(quint8 byte);
    void updatePortLine();

    ui::AppContext m_ctx;
    std::unique_ptr<store::DataSource> m_data2;
    ui::ErrorRoutine m_errors;
    QTimer m_timer1;
    // A scan right after a channel publishes a new state, so that a switching does
    // not also wait for the next regular scan.
    QTimer m_prompt;
    std::array<channels::ChannelWindow*, 8> m_channels{};
    inputs::InputsWindow* m_inputs = nullptr;
    AboutWindow* m_about = nullptr;
    std::array<QLineEdit*, 8> m_status{};
    std::array<QLineEdit*, 5> m_inputTexts{};
    QLineEdit* m_output9 = nullptr;
    ui::ElidedLabel* m_portLabel = nullptr;
    // What the port is known to hold, and whether the last write of the output
    // byte failed (then the next scan writes again, changed or not).
    std::optional<quint8> m_held;
    quint8 m_wanted = 0;
    bool m_writeFailed = false;
    QString m_portNotice; // the latest mend of the port file, with its time
    int m_noticesSeen = 0;
    bool m_unloaded = false;
};

} // namespace kestra::shell
