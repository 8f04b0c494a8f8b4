#pragma once

#include "channels/schedule.h"
#include "ui/context.h"
#include "ui/errorroutine.h"

#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QRadioButton;
class QVBoxLayout;

namespace kestra::store {
class DataSource;
}
namespace kestra::ui {
class TimeBox;
}

namespace kestra::channels {

class PulseFrame;

// The window of one output channel (Form1 .. Form8): days, switchings, mode,
// and the evaluation that publishes Status<m> twice a second. Channels 1 and 2
// add pulsing, 7 start and finish days, 8 ten switchings.
class ChannelWindow : public QWidget
{
    Q_OBJECT
public:
    ChannelWindow(const ui::AppContext& ctx, int channel, inputs::InputsAccess* inputs, QWidget* owner);
    ~ChannelWindow() override;

    int channel() const { return m_channel; }

    // Reads the record into the controls, sets caption, modes and days, starts Timer1.
    // A failure here goes to the caller (the main window's load).
    void load();
    // At program end: validation and save of the record; stops the timers.
    void unload();
    bool isLoaded() const { return m_loaded; }

    // The published state: "calculating", then "ON" or "OFF".
    QString statusText() const;
    // Why the published state is what it is.
    Cause cause() const;
    // The controls as they stand now, saved or not.
    ChannelControls controls() const;

    // One evaluation (what a tick of Timer1 does). Does nothing while pulsing,
    // since Timer1 rests then.
    void tick();
    // Re-reads the stored record (the validation runs first).
    void rereadRecord();

    // Channels 1 and 2: the pulse controls and their phase ticks; null otherwise.
    PulseFrame* pulseFrame() const { return m_pulse; }

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    enum class ModeOption { Auto, Off, On };

    void buildDays(QVBoxLayout* top);
    void buildTimes(QVBoxLayout* top);
    void buildModes(QVBoxLayout* top);
    void bindFields();
    ui::TimeBox* addTimeBox(const QString& name, const QString& field, bool startList);

    // Click reactions: the hidden flag fields follow the controls.
    void selectMode(ModeOption option);
    // The visible toggles and options from the hidden flag texts, in the order
    // days, finish days, then modes AUTO, OFF, ON (the first true one wins).
    void applyStoredFlags();

    void ok();
    // Writes the bound values; a time text that does not convert stays out of
    // the record and throws Failure 524 once the rest is written.
    void saveBound();
    void validate();

    int m_channel;
    ui::AppContext m_ctx;
    inputs::InputsAccess* m_inputs;
    std::unique_ptr<store::DataSource> m_data2;
    ui::ErrorRoutine m_errors;
    bool m_loaded = false;

    QTimer* m_timer1;
    QLineEdit* m_status;
    QLineEdit* m_textcapt;
    std::array<QCheckBox*, 7> m_days{};
    std::array<QLineEdit*, 7> m_dayFlags{};
    std::array<QCheckBox*, 7> m_finishDays{}; // channel 7
    std::array<QLineEdit*, 7> m_finishFlags{};
    QButtonGroup* m_modeGroup = nullptr;
    QRadioButton* m_auto = nullptr;
    QRadioButton* m_on = nullptr;
    QRadioButton* m_off = nullptr;
    QLineEdit* m_txauto = nullptr;
    QLineEdit* m_txon = nullptr;
    QLineEdit* m_txoff = nullptr;

    // The time boxes in validation order (start a, run a, start b, run b, ...),
    // each with the field it writes.
    struct TimeField
    {
        ui::TimeBox* box;
        QString field;
    };
    std::vector<TimeField> m_timeFields;
    std::vector<ui::TimeBox*> m_startBoxes;
    std::vector<ui::TimeBox*> m_runBoxes;
    PulseFrame* m_pulse = nullptr;
    Cause m_cause = Cause::None;
    bool m_publishing = false;
};

} // namespace kestra::channels
