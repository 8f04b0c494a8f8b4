#pragma once

#include "channels/schedule.h"
#include "ui/context.h"
#include "ui/errorroutine.h"

#include <QTimer>
#include <QWidget>
#include <memory>

namespace kestra::store {
class DataSource;
}

namespace kestra::channels {

// The window of one output channel (Form1 .. Form8): days, switchings, mode,
// and the evaluation that publishes Status<m> twice a second. Channels 1 and 2
// add pulsing, 7 start and finish days, 8 ten switchings.
class ChannelWindow : public QWidget {
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

    // The published state: "calculating", then "ON" or "OFF".
    QString statusText() const;
    // The controls as they stand now, saved or not.
    ChannelControls controls() const;

    // One evaluation (what a tick of Timer1 does).
    void tick();
    // Re-reads the stored record (the validation runs first).
    void rereadRecord();

private:
    int m_channel;
    ui::AppContext m_ctx;
    inputs::InputsAccess* m_inputs;
};

} // namespace kestra::channels
