#pragma once

#include "inputs/inputlogic.h"
#include "ui/context.h"

#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;

namespace kestra::store {
class DataSource;
}
namespace kestra::ui {
class ErrorRoutine;
class TimeBox;
} // namespace kestra::ui

namespace kestra::inputs {

class DirectoryList;
class SoundPlayer;

// The inputs window (Form9): the mapping of inputs 1 to 3 onto the outputs, the
// input 3 hold time, the live input states and the two alert sounds. Its Timer1
// runs the monitoring cycle every 200 ms.
class InputsWindow : public QWidget, public InputsAccess
{
    Q_OBJECT
public:
    InputsWindow(const ui::AppContext& ctx, QWidget* owner);
    ~InputsWindow() override;

    // Reads the record into the controls, points the sound lists at their
    // directories and starts Timer1. A failure goes to the caller.
    void load();
    // At program end: stops Timer1, closes both players, then validation and
    // save of the record (a failure of that goes to the caller).
    void unload();

    // INPUT1 .. INPUT5 as shown now ("calculating" before the first cycle).
    QString inputText(int input) const;

    OverrideView overrideView(int channel) const override;
    void rereadRecord() override;

    // One monitoring cycle (what a tick of Timer1 does).
    void cycle();

    // The players of input 4 (1: MMControl1) and input 5 (2: MMControl2).
    SoundPlayer& player(int number) const;
    // Where the sounds of inputs 4 and 5 are looked for now.
    QString input4SoundPath() const;
    QString input5SoundPath() const;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void buildMapping();
    void buildSounds();
    void bindRecord();
    void ok();
    void validate();
    void refreshOwn();
    void fileListClicked(QListWidget* list, QListWidgetItem* item);
    void showJoinedPath(QListWidgetItem* item);
    void directoryChanged(const QString& dir);
    void fillDrives();

    ui::AppContext m_ctx;
    std::unique_ptr<store::DataSource> m_data2;
    std::unique_ptr<ui::ErrorRoutine> m_errors;
    QTimer m_timer1;

    std::array<QLineEdit*, 5> m_input{};
    // [input-1][0 ON, 1 OFF][output-1]
    std::array<std::array<std::array<QCheckBox*, 8>, 2>, 3> m_box{};
    std::array<std::array<std::array<QLineEdit*, 8>, 2>, 3> m_tx{};
    ui::TimeBox* m_inp3time = nullptr;
    QLineEdit* m_inp3start = nullptr;
    QLineEdit* m_inp3date = nullptr;
    // The stamp of a hold ended by an edit of the hold time, until input 3 is read ON again.
    std::optional<HoldStamp> m_endedHold;

    QLineEdit* m_fileBox2 = nullptr; // input 4's name
    QLineEdit* m_filebox1 = nullptr; // input 5's name
    QLineEdit* m_lastEditedFile = nullptr;
    QComboBox* m_drive1 = nullptr;
    DirectoryList* m_dir1 = nullptr;
    QListWidget* m_file1 = nullptr;
    QListWidget* m_file2 = nullptr;
    QString m_file2Dir;
    SoundPlayer* m_mm1 = nullptr;
    SoundPlayer* m_mm2 = nullptr;
};

} // namespace kestra::inputs
