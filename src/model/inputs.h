#pragma once

#include "logic/inputs/inputlogic.h"
#include "model/context.h"
#include "model/errorroutine.h"
#include "model/timefield.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <memory>
#include <optional>

namespace kestra {
class Ticker;
}
namespace kestra::store {
class DataSource;
}
namespace kestra::inputs {
class SoundPlayer;
}

namespace kestra::model {

// The five inputs: their levels read every 200 ms, the mapping of inputs 1 to 3
// onto the outputs, input 3's hold time and stamp, the two alert sounds, and
// this part's own copy of the settings record.
class Inputs : public QObject
{
    Q_OBJECT
public:
    Inputs(const Context& ctx, Ticker& ticker, QObject* parent = nullptr);
    ~Inputs() override;

    // Reads the record, points input 4's sounds at the home directory and
    // starts Timer1. A failure goes to the caller.
    void load();
    // At program end: stops Timer1, closes both players, then validation and
    // save of the record (a failure of that goes to the caller).
    void unload();

    // Input n (1..5) reads ON; nothing before the first reading.
    std::optional<bool> level(int input) const { return m_levels.at(input - 1); }
    // "INPUT 1 ON", "INPUT 1 OFF", or "calculating" before the first reading.
    QString levelText(int input) const;

    // The mapping box of input n (1..3) switching output m ON or OFF: 0 clear, 1 set, 2 greyed.
    int mapping(int input, bool on, int output) const
    {
        return m_boxes.at(input - 1).at(on ? 0 : 1).at(output - 1);
    }
    const TimeField& holdTime() const { return m_holdTime; }
    // What the record holds for `field` as this part's copy last read or wrote it.
    QString storedValue(const QString& field) const;
    const QStringList& runTimes() const { return m_runTimes; }
    // When input 3 last read ON: INP3DATE and INP3START.
    const QString& holdDate() const { return m_holdDate; }
    const QString& holdStart() const { return m_holdStart; }
    // The chosen sound of input 4 or 5, and where input 4's sounds are looked for.
    const QString& soundName(int input) const { return input == 4 ? m_input4Name : m_input5Name; }
    const QString& input4Directory() const { return m_input4Directory; }
    // Where the sound of input 4 or 5 is looked for now.
    QString soundPath(int input) const;
    // The players of input 4 (1: MMControl1) and input 5 (2: MMControl2).
    inputs::SoundPlayer& player(int number) const;

    // What the input override step of `channel` reads.
    inputs::OverrideView overrideView(int channel) const;
    // The same at `now`, once the input 3 stamp has followed the clock (see followClock).
    inputs::OverrideView overrideView(int channel, const QDateTime& now);
    // Keeps input 3's stamp true to the clock: when the clock is set back, the
    // stamp moves back with it, so that a running hold runs out its remaining
    // time and an ended one stays ended instead of coming back when the clock
    // reaches the stamp again. A stamp found ahead of the clock at the first
    // look (the clock was set back while the program was not running) is taken
    // as a hold that has ended.
    void followClock(const QDateTime& now);

    ErrorRoutine& errors() { return m_errors; }
    QTimer& cycleTimer() { return m_cycleTimer; }

    // What the window hands over; failures go to the inputs' error routine.
    void clickMapping(int input, bool on, int output, int value);
    void editHoldTime(const QString& text);
    void setHoldTimeFocus(bool focused) { m_holdTime.setFocused(focused); }
    void finishHoldTimeEdit();
    void editSoundName(int input, const QString& name);
    // A click in a sound list: the sound plays at once and becomes the input's choice.
    void pickSound(int input, const QString& name);
    void setInput4Directory(const QString& dir);
    // OK and the close box: the record is committed (the window hides itself).
    void ok();

    // One monitoring cycle (what a tick of Timer1 does).
    void cycle();
    // Reads the record again, dropping unsaved edits; a running hold goes on.
    void reread();

signals:
    // A reading changed an input's level (or gave the first ones).
    void levelsChanged();
    // An input that can force outputs (1 to 3) changed: the channels look again at once.
    void overrideInputsChanged();
    // Mapping, hold time or sound names changed other than by the window's own edit.
    void recordChanged();
    void input4DirectoryChanged();
    // A view handed over an edit (a mapping box, the hold time, a sound name, OK).
    void edited();

private:
    void bindRecord();
    void validate();
    void setStamp(const QDateTime& at);

    Context m_ctx;
    std::unique_ptr<store::DataSource> m_record;
    ErrorRoutine m_errors;
    QTimer m_cycleTimer;

    std::array<std::optional<bool>, 5> m_levels{};
    // [input-1][0 ON, 1 OFF][output-1]: the box values, and their flag texts as bound.
    std::array<std::array<std::array<int, 8>, 2>, 3> m_boxes{};
    std::array<std::array<std::array<QString, 8>, 2>, 3> m_flags;
    TimeField m_holdTime{QStringLiteral("INP3TIME"), false};
    QStringList m_runTimes;
    QString m_holdStart;
    QString m_holdDate;
    // The stamp of a hold ended by an edit of the hold time, until input 3 is read ON again.
    std::optional<inputs::HoldStamp> m_endedHold;
    QDateTime m_lastLook; // the clock as the stamp last followed it

    QString m_input4Name;     // FILEBox2
    QString m_input5Name;     // filebox1
    int m_lastEditedName = 0; // 4 or 5: which name a commit stores; 0 none since the last read
    QString m_input4Directory;
    inputs::SoundPlayer* m_input4Player = nullptr; // MMControl1
    inputs::SoundPlayer* m_input5Player = nullptr; // MMControl2
};

} // namespace kestra::model
