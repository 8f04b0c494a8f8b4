#pragma once

#include "inputs/inputlogic.h"
#include "ui/context.h"

#include <QWidget>

namespace kestra::inputs {

// The inputs window (Form9): the mapping of inputs 1 to 3 onto the outputs, the
// input 3 hold time, the live input states and the two alert sounds. Its Timer1
// runs the monitoring cycle every 200 ms.
class InputsWindow : public QWidget, public InputsAccess {
    Q_OBJECT
public:
    InputsWindow(const ui::AppContext& ctx, QWidget* owner);
    ~InputsWindow() override;

    // Reads the record into the controls and starts Timer1.
    void load();
    // At program end: validation and save; closes both players.
    void unload();

    // INPUT1 .. INPUT5 as shown now ("calculating" before the first cycle).
    QString inputText(int input) const;

    OverrideView overrideView(int channel) const override;
    void rereadRecord() override;

    // One monitoring cycle (what a tick of Timer1 does).
    void cycle();

private:
    ui::AppContext m_ctx;
};

} // namespace kestra::inputs
