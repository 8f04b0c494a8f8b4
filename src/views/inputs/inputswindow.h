#pragma once

#include "logic/schedule/schedule.h"

#include <QWidget>
#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;

namespace kestra::model {
class Inputs;
}
namespace kestra::inputs {
class InputsSource;
}
namespace kestra::ui {
class TimeBox;
}

namespace kestra::inputs {

class DirectoryList;

// The inputs window (Form9): the mapping of inputs 1 to 3 onto the outputs, the
// input 3 hold time, the live input states and the two alert sounds. It shows
// the switch's inputs and hands the user's edits to them.
class InputsWindow : public QWidget
{
    Q_OBJECT
public:
    // The inputs of the switch in this process.
    InputsWindow(model::Inputs& inputs, const QString& title, QWidget* owner);
    // Those of `source`, a switch here or one attached to.
    InputsWindow(InputsSource& source, const QString& title, QWidget* owner);
    ~InputsWindow() override;

    // The outputs' modes: a column with a set box whose output is not in AUTO
    // is marked, since inputs switch only outputs in AUTO.
    void showModes(const std::array<channels::Mode, 8>& modes);

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void buildMapping();
    void buildSounds();
    void showLevels();
    void showModeNotes();
    void showRecord();
    void ok();
    void fileListClicked(QListWidget* list, QListWidgetItem* item);
    void showJoinedPath(QListWidgetItem* item);
    void showDirectory();
    void fillDrives();

    InputsSource& m_inputs;
    QString m_title;

    std::array<QLineEdit*, 5> m_levels{};
    // [input-1][0 ON, 1 OFF][output-1]
    std::array<std::array<std::array<QCheckBox*, 8>, 2>, 3> m_box{};
    ui::TimeBox* m_holdTime = nullptr;

    QLineEdit* m_input4Name = nullptr;    // FILEBox2
    QLineEdit* m_input5Name = nullptr;    // filebox1
    QComboBox* m_drives = nullptr;        // Drive1
    DirectoryList* m_directory = nullptr; // Dir1
    QListWidget* m_input4Files = nullptr; // File1
    QListWidget* m_input5Files = nullptr; // File2

    std::array<channels::Mode, 8> m_modes;
    std::array<QLabel*, 8> m_modeMarks{};
    QLabel* m_modeNote = nullptr;
};

} // namespace kestra::inputs
