#pragma once

#include "base/state.h"
#include "logic/calendar/settings.h"
#include "logic/schedule/schedule.h"
#include "model/context.h"
#include "model/errorroutine.h"
#include "model/timefield.h"
#include "storage/store/database.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kestra {
class Ticker;
}
namespace kestra::store {
class DataSource;
}

namespace kestra::model {

class Inputs;
class Pulse;

// The name of a channel window's time box `index` (start a, run a, start b, ...):
// "time1a", "Run1a", "run1b" on channels 4 and 5, "Time1i" on channel 8.
QString timeFieldName(int channel, int index);
// The record field of channel 7's finish day d (0 Sunday .. 6 Saturday): "SUN7A" ...
QString finishDayField(int d);

// One output channel: its settings as its window shows them (saved or not),
// its own copy of the settings record, and the evaluation that publishes its
// state twice a second. Channels 1 and 2 add pulsing, 7 start and finish days,
// 8 ten switchings.
class Channel : public QObject
{
    Q_OBJECT
public:
    Channel(const Context& ctx, int number, Inputs* inputs, Ticker& ticker, QObject* parent = nullptr);
    ~Channel() override;

    int number() const { return m_number; }

    // Reads the record, takes the flags, starts Timer1. A failure goes to the caller.
    void load();
    // At program end: validation and save of the record; stops the timers.
    void unload();
    bool isLoaded() const { return m_loaded; }

    // The window's caption, set once at load: a location edited later shows at the next start.
    const QString& caption() const { return m_caption; }
    bool day(int d) const { return m_days.at(d); } // 0 Sunday .. 6 Saturday
    bool finishDay(int d) const { return m_finishDays.at(d); }
    // The mode option selected; None when none is.
    channels::Mode mode() const { return m_mode; }
    // The time fields in validation order: start a, run a, start b, run b, ...
    int timeCount() const { return int(m_times.size()); }
    const TimeField& time(int index) const { return m_times.at(index); }
    const QStringList& startTimes() const { return m_startTimes; }
    const QStringList& runTimes() const { return m_runTimes; }
    // The settings as they stand now, saved or not, as a tick reads them.
    channels::ChannelControls controls() const;
    // What this channel's copy of the record would store for `field` now.
    QString boundValue(const QString& field) const;
    // What the record holds for `field` as this copy last read or wrote it.
    QString storedValue(const QString& field) const;

    // The published state, and why it is what it is.
    State state() const { return m_state; }
    channels::Cause cause() const;
    // Channels 1 and 2; null otherwise.
    Pulse* pulse() const { return m_pulse; }

    ErrorRoutine& errors() { return m_errors; }
    QTimer& tickTimer() { return m_tickTimer; }

    // What the window hands over. Each runs as a handler: a failure goes to the
    // channel's error routine.
    void clickDay(int d, bool ticked);
    void clickFinishDay(int d, bool ticked);
    void selectMode(channels::Mode mode);
    void editTime(int index, const QString& text);
    void setTimeFocus(int index, bool focused);
    void finishTimeEdit(int index);
    // OK: the bound values are stored (the window hides itself first).
    void ok();
    // What selecting `mode` and pressing OK does for the mode, from outside the
    // window (home automation): shown and followed at once, stored soon after.
    // Other unsaved edits of the window stay as they are, unsaved.
    void commandMode(channels::Mode mode);
    // The mode flags of the last command while they are not stored yet; empty
    // when there are none. Whoever writes them calls commandedModeStored() after.
    store::FieldValues unstoredCommandedMode() const;
    void commandedModeStored(const store::FieldValues& written);
    // A failed write: the command's mode is not stored (the error routine's re-read shows the stored one).
    void dropCommandedMode() { m_commanded.reset(); }
    // Pulse mode of channels 1 and 2.
    void startPulse();
    void stopPulse();
    void selectPulse(bool onList, const QString& entry);

    // The calendar's additions the ticks follow; null: the described schedule alone.
    void setCalendar(std::shared_ptr<const calendar::Settings> s) { m_calendar = std::move(s); }

    // One evaluation (what a tick of Timer1 does). Does nothing while pulsing,
    // since Timer1 rests then.
    void tick();
    // Re-reads the stored record (the validation runs first).
    void reread();

signals:
    // The published state changed.
    void stateChanged(int channel);
    // Days, mode or time texts changed other than by the window's own edit
    // (load, re-read, a command): the window shows them again.
    void settingsChanged(int channel);
    // Pulse mode began, ended or moved on; a selection or a counter changed.
    void pulseChanged(int channel);
    // A view handed over an edit (a day, a mode, a time text, OK): every view
    // of the same draft shows it again.
    void edited(int channel);

private:
    // What the window's edits change, kept so that an edit that fails
    // unexpectedly can be undone whole.
    struct Draft
    {
        std::array<bool, 7> days, finishDays;
        std::array<QString, 7> dayFlags, finishFlags;
        channels::Mode mode;
        QString autoFlag, onFlag, offFlag;
        std::vector<TimeField> times;
    };
    Draft draft() const;
    void restore(const Draft& d);
    // Runs an edit as a handler: a failure goes to the error routine, and an
    // unexpected one leaves the settings as they were before it.
    void edit(const std::function<void()>& step);

    void bindFields();
    void publish(State s, channels::Cause cause);
    // The visible toggles and options from the flag texts, in the order days,
    // finish days, then modes AUTO, OFF, ON (the first true one wins).
    void applyStoredFlags();
    void setMode(channels::Mode mode);
    // Writes the bound values; a time text that does not convert stays out of
    // the record and throws Failure 524 once the rest is written.
    void saveBound();
    // Writes the commanded mode's flags now when they wait: before anything
    // else reads or writes the record, so that neither loses nor reverts them.
    void storeCommandedMode();
    void validate();
    Failure refusal(const TimeField& f) const;
    QString timeName(int index) const;

    int m_number;
    Context m_ctx;
    Inputs* m_inputs;
    std::unique_ptr<store::DataSource> m_record;
    ErrorRoutine m_errors;
    bool m_loaded = false;
    QTimer m_tickTimer;
    Pulse* m_pulse = nullptr;

    QString m_caption;
    QString m_location;                 // Loc<m> as this copy holds it
    std::array<bool, 7> m_days{};       // the toggles
    std::array<QString, 7> m_dayFlags;  // their flag texts, as bound
    std::array<bool, 7> m_finishDays{}; // channel 7
    std::array<QString, 7> m_finishFlags;
    channels::Mode m_mode = channels::Mode::None;
    std::optional<channels::Mode> m_commanded; // set by a command, not stored yet
    QString m_autoFlag, m_onFlag, m_offFlag;   // Auto<m>, On<m>, Off<m> as bound
    std::vector<TimeField> m_times;
    QStringList m_startTimes, m_runTimes;

    std::shared_ptr<const calendar::Settings> m_calendar;
    State m_state = State::Calculating;
    channels::Cause m_cause = channels::Cause::None;
};

} // namespace kestra::model
