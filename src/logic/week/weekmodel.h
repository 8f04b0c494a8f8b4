#pragma once

#include "base/clock.h"
#include "base/state.h"
#include "logic/inputs/inputlogic.h"
#include "logic/schedule/schedule.h"
#include "logic/week/intervals.h"
#include "logic/week/next.h"
#include "logic/week/pulseplan.h"

#include <QObject>
#include <array>
#include <memory>
#include <optional>

namespace kestra::week {

// An input 3 hold running on an output in AUTO: forced ON or OFF until `until`.
struct Hold
{
    bool on = true;
    QDateTime until;
    bool operator==(const Hold&) const = default;
};
// Inputs are not predicted; only a hold already running is shown, as it stands.
std::optional<Hold> holdAsItStands(const channels::ChannelControls& c, const inputs::OverrideView& v,
                                   const QDateTime& now);

// What the week picture shows of one output.
struct ChannelPicture
{
    int channel = 0;
    QString location;
    channels::Mode mode = channels::Mode::None;
    ChannelWeek week;
    QString frozenStatus; // the state a frozen output stays in
    std::optional<PulsePlan> pulse;
    std::optional<Hold> hold;
};

// What the output does next as it stands: its pulse, a freeze, no mode, the
// end of an input 3 hold (`hold` exactly as it stands), or its schedule.
NextSwitching nextSwitching(const ChannelPicture& picture, const std::optional<Hold>& hold,
                            const QDateTime& now);

// Where the model reads each output (1 .. 8). The shell answers from the
// windows, so edits that are not saved yet count, as they do for the ticks.
class WeekSource
{
public:
    virtual ~WeekSource() = default;
    virtual channels::ChannelControls controls(int channel) const = 0;
    virtual QString location(int channel) const = 0;
    virtual State state(int channel) const = 0;
    // Pulse mode as it stands at `now` (ms since the epoch); nothing when not pulsing.
    virtual std::optional<PulsePlan> pulse(int channel, qint64 now) const = 0;
    virtual inputs::OverrideView inputs(int channel) const = 0;
    // The calendar's settings as they stand; null while there are none.
    virtual std::shared_ptr<const calendar::Settings> calendar() const { return nullptr; }
};

// The week of all eight outputs and their next switchings, kept up to date
// by refresh(): it recomputes only what changed (the controls, a pulse that
// took another course, a hold, or a switching whose moment has passed) and
// says so, so that the pictures are redrawn only then.
class WeekModel : public QObject
{
    Q_OBJECT
public:
    WeekModel(const WeekSource& source, const Clock& clock, QObject* parent = nullptr);

    void refresh();

    const ChannelPicture& picture(int channel) const { return m_entries.at(channel - 1).picture; }
    const NextSwitching& next(int channel) const { return m_entries.at(channel - 1).next; }
    // The moment of the last refresh: what the pictures are as at.
    QDateTime now() const { return m_now; }

signals:
    void pictureChanged(int channel);
    void nextChanged(int channel);
    void refreshed();

private:
    struct Entry
    {
        bool known = false;
        channels::ChannelControls controls;
        std::shared_ptr<const calendar::Settings> calendar;
        QDate date; // the calendar's days move on with it
        ChannelPicture picture;
        std::optional<Hold> hold; // as it stands, while the picture's may lag
        NextSwitching next;
    };
    // True when the picture changed; `recount` when the next switching must be found again.
    bool update(Entry& e, int channel, bool& recount);

    const WeekSource& m_source;
    const Clock& m_clock;
    std::array<Entry, 8> m_entries;
    QDateTime m_now;
};

} // namespace kestra::week
