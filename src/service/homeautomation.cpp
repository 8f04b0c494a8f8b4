#include "service/homeautomation.h"

#include "base/ticker.h"
#include "logic/week/weekmodel.h"
#include "model/recorder.h"
#include "model/switchmodel.h"
#include "platform/port/bits.h"

namespace kestra::service {

using namespace std::chrono_literals;

namespace {
// The link publishes the hours at most once a minute, with two decimals (36 s);
// a value this old at that moment is close enough.
constexpr auto kHoursFeedPeriod = 10s;
constexpr double kMsPerHour = 3.6e6;
} // namespace

HomeAutomation::HomeAutomation(model::SwitchModel& model, week::WeekModel& week, history::Recorder& recorder,
                               std::function<void(int, channels::Mode)> command, QObject* parent)
    : QObject(parent), m_model(model), m_week(week), m_recorder(recorder), m_command(std::move(command)),
      m_link(model.build())
{
    connect(&model, &model::SwitchModel::outputWritten, this, &HomeAutomation::feedOutputs);
    // The window's own mode selection takes effect unsaved and says nothing:
    // each scan looks again (a setter that finds no change costs a compare).
    connect(&model, &model::SwitchModel::scanDone, this, &HomeAutomation::feedModes);
    for (int m = 1; m <= 8; ++m)
        connect(&model.channel(m), &model::Channel::settingsChanged, this, &HomeAutomation::feedModes);
    connect(&week, &week::WeekModel::nextChanged, this, &HomeAutomation::feedNext);
    connect(&model.inputs(), &model::Inputs::levelsChanged, this, &HomeAutomation::feedInputs);
    connect(&model, &model::SwitchModel::locationsChanged, this, &HomeAutomation::feedLocations);
    connect(&model, &model::SwitchModel::locationEdited, this, [this](int n) {
        if (n <= 8) m_link.setLocation(n, m_model.location(n));
    });
    connect(&recorder, &history::Recorder::countingEnded, this, &HomeAutomation::feedHours);
    // Fresh hours before a connect publishes them (they are not fed while the link is off).
    connect(&m_link, &mqtt::Link::stateChanged, this, &HomeAutomation::feedHours);
    m_hoursTimer.setInterval(kHoursFeedPeriod);
    model.ticker().attach(&m_hoursTimer, Ticker::Rank::Display, [this] { feedHours(); });
    connect(&m_link, &mqtt::Link::modeCommand, this,
            [this](int output, channels::Mode mode) { m_command(output, mode); });
}

void HomeAutomation::start()
{
    if (m_started || m_model.isUnloaded()) return;
    m_started = true;
    // The load's writes, modes and locations came through the signals; a next
    // switching that is still none said nothing.
    for (int m = 1; m <= 8; ++m)
        feedNext(m);
    m_link.apply(mqtt::Settings::load(m_model.build().title));
    feedHours();
    m_hoursTimer.start();
}

void HomeAutomation::stop()
{
    m_hoursTimer.stop();
    m_link.stop(kStopWithin);
}

void HomeAutomation::feedOutputs(quint8 byte)
{
    m_link.setOutputs(port::outputsOf(byte, m_model.fiveVoltsOn()));
}

void HomeAutomation::feedModes()
{
    for (int m = 1; m <= 8; ++m)
        m_link.setMode(m, m_model.channel(m).mode());
}

void HomeAutomation::feedNext(int output)
{
    const week::NextSwitching& next = m_week.next(output);
    // A running input 3 hold ends at its own moment, which is then the next switching.
    const bool timed =
        next.kind == week::NextSwitching::Kind::At || next.kind == week::NextSwitching::Kind::Held;
    m_link.setNext(output, timed ? next.at : QDateTime());
}

void HomeAutomation::feedHours()
{
    // While the file's hours are being counted, hours() knows only this run's;
    // and a run whose count failed knows nothing more. Home Assistant takes the
    // hours as a meter that only grows, so such a smaller value would read as a
    // reset: nothing is published until the count has ended well.
    if (!m_link.settings().enabled || !m_recorder.isOpen() || m_recorder.isCounting() ||
        !m_recorder.hoursProblem().isEmpty())
        return;
    for (int m = 1; m <= 8; ++m)
        m_link.setHours(m, double(m_recorder.hours(m).totalMs) / kMsPerHour);
}

void HomeAutomation::feedInputs()
{
    for (int n = 1; n <= 5; ++n)
        if (const std::optional<bool> on = m_model.inputs().level(n)) m_link.setInput(n, *on);
}

void HomeAutomation::feedLocations()
{
    for (int m = 1; m <= 8; ++m)
        m_link.setLocation(m, m_model.location(m));
}

} // namespace kestra::service
