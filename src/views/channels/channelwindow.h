#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QVBoxLayout;

namespace kestra::model {
class Channel;
}
namespace kestra::ui {
class TimeBox;
}

namespace kestra::channels {

class ChannelSource;
class PulseFrame;

// The window of one output channel (Form1 .. Form8): days, switchings, mode and
// state. It shows its channel of the switch and hands the user's edits to it.
// Channels 1 and 2 add pulsing, 7 start and finish days, 8 ten switchings.
// The channel is the switch's in this process, or that of a running switch the
// program is attached to.
class ChannelWindow : public QWidget
{
    Q_OBJECT
public:
    ChannelWindow(model::Channel& channel, QWidget* owner);
    ChannelWindow(ChannelSource& source, QWidget* owner);
    ~ChannelWindow() override;

    // The channel of this process; only for a window of the switch in this process.
    model::Channel& channel() const;
    ChannelSource& source() const { return m_channel; }
    // Channels 1 and 2: the pulse controls; null otherwise.
    PulseFrame* pulseFrame() const { return m_pulse; }
    // What the output does next, under its STATUS ("next: Mon 12:00:01 ON"),
    // with the whole of it as the tool tip.
    void showNext(const QString& text, const QString& toolTip);

signals:
    // The button "Sun, holidays and presence..." (`btnCalendar`).
    void calendarRequested(int channel);

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void buildDays(QVBoxLayout* top);
    void buildTimes(QVBoxLayout* top);
    void buildModes(QVBoxLayout* top);
    void showSettings();
    void showState();
    void ok();

    std::unique_ptr<ChannelSource> m_owned;
    ChannelSource& m_channel;
    QLineEdit* m_status;
    QLabel* m_next;
    std::array<QCheckBox*, 7> m_days{};
    std::array<QCheckBox*, 7> m_finishDays{}; // channel 7
    QButtonGroup* m_modeGroup = nullptr;
    QRadioButton* m_auto = nullptr;
    QRadioButton* m_on = nullptr;
    QRadioButton* m_off = nullptr;
    // The time boxes in the channel's order (start a, run a, start b, ...).
    std::vector<ui::TimeBox*> m_times;
    PulseFrame* m_pulse = nullptr;
};

} // namespace kestra::channels
