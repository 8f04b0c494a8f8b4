#pragma once

#include "base/state.h"
#include "logic/calendar/settings.h"
#include "model/channel.h"
#include "model/context.h"
#include "model/errorroutine.h"
#include "model/inputs.h"
#include "platform/port/portline.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace kestra {
class Ticker;
}
namespace kestra::store {
class DataSource;
}

namespace kestra::model {

// The whole time switch without a window: eight channels, the inputs, the
// polarity option, the main scan that turns the eight states into the output
// byte, and the start-up and shutdown of the port. One ticker drives it all.
// Windows show it and hand edits to it; other readers (the week, the history,
// home automation) listen to its signals.
class SwitchModel : public QObject
{
    Q_OBJECT
public:
    explicit SwitchModel(const Context& ctx, QObject* parent = nullptr);
    ~SwitchModel() override;

    const Context& context() const { return m_ctx; }
    const BuildConfig& build() const { return m_ctx.build; }
    // The one wake-up for all periodic work: the views' own timers (the logo) join it.
    Ticker& ticker() { return *m_ticker; }
    Channel& channel(int m) const { return *m_channels.at(m - 1); }
    Inputs& inputs() const { return *m_inputs; }

    // Start-up: loads the eight channels, the inputs and the polarity option,
    // then (after `placement`, which the main window uses to restore itself)
    // reads the record, writes the control register and puts the stored output
    // byte back. Failures go to the main error routine; the scan starts anyway.
    void load(const std::function<void()>& placement = {});
    // Shutdown: every output OFF under the polarity in force, control 0, every
    // part's record saved. Nobody is asked anything from here on.
    void unload();
    bool isUnloaded() const { return m_unloaded; }

    // One scan: what a tick of the scan timer does.
    void scan();
    QTimer& scanTimer() { return m_scanTimer; }
    ErrorRoutine& errors() { return m_errors; }

    // The main window's copy of the record: the locations of outputs 1..8 and
    // inputs 1..5 (n = 1..13, Loc1 .. Loc13) and the byte last written (Output9).
    const QString& location(int n) const { return m_locations.at(n - 1); }
    void editLocation(int n, const QString& text);
    // Stores location n now (the edit has ended), so that the port panel shows
    // it at once and a crash does not lose it.
    void storeLocation(int n);
    const QString& outputText() const { return m_outputText; }

    // What the last scan showed: output m ON (false also before the first scan),
    // and input n as it was copied then.
    bool shownOn(int m) const { return m_shownOn.at(m - 1); }
    bool scanned() const { return m_scans > 0; }
    std::optional<bool> shownInput(int n) const { return m_shownInputs.at(n - 1); }

    // The polarity option: 5 V is ON. Its own copy of the record is loaded at
    // start-up, dropped by the About window's OK, and loaded again by the next scan.
    bool fiveVoltsOn() const { return m_fiveVolts; }
    void clickPolarity(bool fiveVolts);
    bool isAboutLoaded() const { return m_aboutLoaded; }
    // Before the About window shows: loaded again if its OK dropped it.
    void prepareAbout();
    // The About window's OK: its copy is stored and dropped.
    void aboutOk();
    ErrorRoutine& aboutErrors() { return m_aboutErrors; }

    // Sun-anchored switchings, holidays and presence, from the calendar file
    // beside the settings database. Null while there is none, or while the
    // file cannot be used (then calendarProblem() says why and the described
    // schedules run alone).
    std::shared_ptr<const calendar::Settings> calendar() const { return m_calendar; }
    const QString& calendarProblem() const { return m_calendarProblem; }
    // The settings as stored, or the defaults (never null) to edit.
    calendar::Settings calendarForEdit() const;
    // Stores `s` in the calendar file and follows it from the next tick.
    // Settings with a fault, or a file that cannot be written, throw Failure
    // naming it; then nothing changes.
    void saveCalendar(const calendar::Settings& s);
    // Follows `s` without storing it (tests, and a switch whose file failed).
    void setCalendar(std::shared_ptr<const calendar::Settings> s);

    // Output m (1..8) as driven at the port now, after polarity; nothing while
    // the byte on the port is not known.
    std::optional<bool> drivenOn(int m) const;
    // What the program knows of its port, for the status line.
    port::PortFacts portFacts() const;

signals:
    // After each scan.
    void scanDone();
    // A byte reached the data register (start-up, scan, shutdown).
    void outputWritten(quint8 byte);
    // The locations of the main copy were read.
    void locationsChanged();
    void locationEdited(int n);
    void polarityChanged();
    // The port said something new (a mend of the port file) or a write failed or went through again.
    void portChanged();
    // Shutdown begins: the writes that follow are the ending's.
    void aboutToUnload();
    // The calendar's settings changed.
    void calendarChanged();

private:
    void reread();
    void writeOutputByte(quint8 byte);
    void loadAbout();
    void unloadAbout();
    void ensureAboutLoaded();
    void notePortNotice();
    void evaluateNow();
    void loadCalendar();

    Context m_ctx;
    Ticker* m_ticker;
    Inputs* m_inputs;
    std::array<Channel*, 8> m_channels{};
    std::unique_ptr<store::DataSource> m_record;
    std::unique_ptr<store::DataSource> m_aboutRecord;
    ErrorRoutine m_errors;
    ErrorRoutine m_aboutErrors;
    QTimer m_scanTimer;
    // A scan right after a channel publishes a new state, so that a switching does
    // not also wait for the next regular scan.
    QTimer m_prompt;

    std::array<QString, 13> m_locations;
    QString m_outputText;
    std::array<bool, 8> m_shownOn{};
    std::array<std::optional<bool>, 5> m_shownInputs{};
    quint64 m_scans = 0;

    bool m_fiveVolts = false;
    QString m_sourcePortFlag; // SOURCEPORT as bound
    bool m_aboutLoaded = false;

    // What the port is known to hold, and whether the last write of the output
    // byte failed (then the next scan writes again, changed or not).
    std::optional<quint8> m_held;
    quint8 m_wanted = 0;
    bool m_writeFailed = false;
    QString m_portNotice; // the latest mend of the port file, with its time
    int m_noticesSeen = 0;
    bool m_unloaded = false;
    std::shared_ptr<const calendar::Settings> m_calendar;
    QString m_calendarProblem;
};

} // namespace kestra::model
