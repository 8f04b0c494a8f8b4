#include "model/channel.h"

#include "logic/calendar/plan.h"

#include "base/ticker.h"
#include "base/timetext.h"
#include "model/inputs.h"
#include "model/pulse.h"
#include "storage/store/datasource.h"
#include "storage/store/schema.h"

#include <algorithm>
#include <chrono>

namespace kestra::model {

using namespace std::chrono_literals;
using channels::Mode;

namespace {
constexpr auto kTickPeriod = 500ms;

const std::array<const char*, 7> kFinishFieldNames = {"SUN7A", "MON7A", "TUE7A", "WED7A",
                                                      "THR7A", "FRI7A", "SAT7A"};

// A flag text that is neither true nor false reads as cleared and is
// rewritten as "False", so that the next save stores a readable flag.
bool readFlag(QString& text)
{
    const std::optional<bool> f = tryParseFlag(text);
    if (!f) text = flagText(false);
    return f.value_or(false);
}
} // namespace

QString Channel::timeName(int index) const
{
    return timeFieldName(m_number, index);
}

QString finishDayField(int d)
{
    return QLatin1String(kFinishFieldNames.at(d));
}

QString timeFieldName(int channel, int index)
{
    const int k = index / 2;
    const QChar letter = QLatin1Char(char('a' + k));
    if (index % 2 == 0) {
        // Channel 8 writes "Time1i" and "Time1j" with a capital.
        if (channel == 8 && k >= 8) return QStringLiteral("Time1") + letter;
        return QStringLiteral("time1") + letter;
    }
    // Channels 4 and 5 name their second run box "run1b".
    if (k == 1 && channel != 8) return QStringLiteral("run1b");
    return QStringLiteral("Run1") + letter;
}

Channel::Channel(const Context& ctx, int number, Inputs* inputs, Ticker& ticker, QObject* parent)
    : QObject(parent), m_number(number), m_ctx(ctx), m_inputs(inputs),
      m_record(std::make_unique<store::DataSource>(ctx.database)),
      m_errors(nullptr, ctx.build.title, badEntryText, [this] {
          // Inputs first, then this channel; a re-read that fails leaves what is shown.
          if (m_inputs) logged(QStringLiteral("re-read of the inputs"), [this] { m_inputs->reread(); });
          logged(QStringLiteral("re-read of channel %1").arg(m_number), [this] { reread(); });
      })
{
    setObjectName(QStringLiteral("Channel%1").arg(number));
    m_tickTimer.setParent(this);
    m_tickTimer.setObjectName(QStringLiteral("Timer1"));
    m_tickTimer.setInterval(kTickPeriod);
    ticker.attach(&m_tickTimer, Ticker::Rank::Channels, [this] { tick(); });

    for (QString& f : m_dayFlags)
        f = flagText(false);
    for (QString& f : m_finishFlags)
        f = flagText(false);
    m_autoFlag = m_onFlag = m_offFlag = flagText(false);
    for (int k = 0; k < channels::switchingCount(number); ++k) {
        const QChar letter = QLatin1Char(char('a' + k));
        // Start fields are written under a lower-case first letter ("start3a"); names match without case.
        m_times.emplace_back(QStringLiteral("start%1").arg(number) + letter, true);
        // Channel 7's finish is a clock time, offered from the start-time list.
        m_times.emplace_back(QStringLiteral("Run%1").arg(number) + letter, number == 7);
    }
    if (number == 1 || number == 2) {
        m_pulse = new Pulse(
            number, m_tickTimer, [this](State s) { publish(s, channels::Cause::Pulse); }, this);
        connect(m_pulse, &Pulse::changed, this, [this] { emit pulseChanged(m_number); });
    }
    bindFields();
    m_record->setValidationHandler([this] { validate(); });
}

Channel::~Channel() = default;

void Channel::bindFields()
{
    const auto bindText = [this](const QString& field, QString& value) {
        m_record->bind(
            field, [&value] { return value; }, [&value](const QString& v) { value = v; });
    };
    bindText(QStringLiteral("Loc%1").arg(m_number), m_location);
    for (int d = 0; d < 7; ++d)
        bindText(store::dayField(m_number, d), m_dayFlags[d]);
    if (m_number == 7)
        for (int d = 0; d < 7; ++d)
            bindText(QLatin1String(kFinishFieldNames[d]), m_finishFlags[d]);
    bindText(store::modeField(m_number, QStringLiteral("Auto")), m_autoFlag);
    bindText(store::modeField(m_number, QStringLiteral("Off")), m_offFlag);
    bindText(store::modeField(m_number, QStringLiteral("On")), m_onFlag);
    for (TimeField& tf : m_times) {
        // A text that is not a time never reaches the record: the binding
        // offers the stored value instead, so a save leaves the field alone.
        m_record->bind(
            tf.field(),
            [this, &tf] { return tryParseTime(tf.text()) ? tf.text() : m_record->value(tf.field()); },
            [&tf](const QString& v) { tf.setStored(v); });
    }
    if (m_number == 2) {
        m_record->bind(
            QStringLiteral("PLSESTRT"), [this] { return m_pulse->startCounter(); },
            [this](const QString& v) { m_pulse->setCounters(v, m_pulse->stopCounter()); });
        m_record->bind(
            QStringLiteral("PLSESTP"), [this] { return m_pulse->stopCounter(); },
            [this](const QString& v) { m_pulse->setCounters(m_pulse->startCounter(), v); });
    }
}

void Channel::load()
{
    store::Database& db = m_ctx.database;
    m_startTimes = db.listValues(store::kStartTimesTable, store::kStartTimesField);
    m_runTimes = db.listValues(store::kRunTimesTable, store::kRunTimesField);
    m_record->refresh();
    m_caption = QStringLiteral(" %1     ").arg(m_number) + m_location;
    applyStoredFlags();
    if (m_pulse) m_pulse->reset();
    m_loaded = true;
    m_tickTimer.start();
    emit settingsChanged(m_number);
}

void Channel::unload()
{
    m_tickTimer.stop();
    if (m_pulse) m_pulse->halt();
    if (!m_loaded) return;
    // The last command's mode first, should the validation or the save fail.
    logged(QStringLiteral("storing the mode of channel %1").arg(m_number), [this] { storeCommandedMode(); });
    m_loaded = false;
    m_record->close();
}

channels::Cause Channel::cause() const
{
    return m_pulse && m_pulse->isPulsing() ? channels::Cause::Pulse : m_cause;
}

channels::ChannelControls Channel::controls() const
{
    channels::ChannelControls c;
    c.channel = m_number;
    c.mode = m_mode;
    c.days = m_days;
    if (m_number == 7) c.finishDays = m_finishDays;
    for (size_t i = 0; i < m_times.size(); ++i) {
        (i % 2 == 0 ? c.starts : c.runs) << m_times[i].tickText();
        (i % 2 == 0 ? c.startSeconds : c.runSeconds).push_back(m_times[i].tickSeconds());
    }
    return c;
}

QString Channel::boundValue(const QString& field) const
{
    const auto is = [&](const QString& name) { return field.compare(name, Qt::CaseInsensitive) == 0; };
    if (is(QStringLiteral("Loc%1").arg(m_number))) return m_location;
    for (int d = 0; d < 7; ++d) {
        if (is(store::dayField(m_number, d))) return m_dayFlags[d];
        if (m_number == 7 && is(QLatin1String(kFinishFieldNames[d]))) return m_finishFlags[d];
    }
    if (is(store::modeField(m_number, QStringLiteral("Auto")))) return m_autoFlag;
    if (is(store::modeField(m_number, QStringLiteral("Off")))) return m_offFlag;
    if (is(store::modeField(m_number, QStringLiteral("On")))) return m_onFlag;
    for (const TimeField& tf : m_times)
        if (is(tf.field())) return tf.text();
    return {};
}

QString Channel::storedValue(const QString& field) const
{
    return m_record->value(field);
}

void Channel::publish(State s, channels::Cause cause)
{
    m_cause = cause;
    if (s == m_state) return;
    m_state = s;
    emit stateChanged(m_number);
}

void Channel::tick()
{
    if (m_pulse && m_pulse->isPulsing()) return;
    guarded(m_errors, [this] {
        // The evaluation writes step by step; whatever it reached before a
        // failure is what the state keeps (the last result for a bad time text).
        State status = m_state;
        channels::Cause cause = m_cause;
        try {
            const QDateTime now = m_ctx.clock.now();
            const inputs::OverrideView view =
                m_inputs ? m_inputs->overrideView(m_number, now) : inputs::OverrideView{};
            if (m_calendar)
                calendar::evaluate(controls(), *m_calendar, view, now, status, &cause);
            else
                channels::evaluate(controls(), view, now, status, &cause);
        } catch (...) {
            publish(status, cause);
            throw;
        }
        publish(status, cause);
    });
}

void Channel::reread()
{
    storeCommandedMode();
    m_record->refresh();
    // The toggles follow their re-read flags, so what is shown is what is stored.
    applyStoredFlags();
    emit settingsChanged(m_number);
}

Channel::Draft Channel::draft() const
{
    return {m_days,     m_finishDays, m_dayFlags, m_finishFlags, m_mode,
            m_autoFlag, m_onFlag,     m_offFlag,  m_times};
}

void Channel::restore(const Draft& d)
{
    m_days = d.days;
    m_finishDays = d.finishDays;
    m_dayFlags = d.dayFlags;
    m_finishFlags = d.finishFlags;
    m_mode = d.mode;
    m_autoFlag = d.autoFlag;
    m_onFlag = d.onFlag;
    m_offFlag = d.offFlag;
    m_times = d.times;
    emit settingsChanged(m_number);
}

void Channel::edit(const std::function<void()>& step)
{
    const Draft before = draft();
    guarded(m_errors, step, [&] { restore(before); });
}

void Channel::clickDay(int d, bool ticked)
{
    edit([&] {
        m_days.at(d) = ticked;
        m_dayFlags.at(d) = flagText(ticked);
    });
    emit edited(m_number);
}

void Channel::clickFinishDay(int d, bool ticked)
{
    edit([&] {
        m_finishDays.at(d) = ticked;
        m_finishFlags.at(d) = flagText(ticked);
    });
    emit edited(m_number);
}

void Channel::setMode(Mode mode)
{
    const QString yes = flagText(true);
    const QString no = flagText(false);
    m_mode = mode;
    m_autoFlag = mode == Mode::Auto ? yes : no;
    m_offFlag = mode == Mode::Off ? yes : no;
    m_onFlag = mode == Mode::On ? yes : no;
}

void Channel::selectMode(Mode mode)
{
    if (mode == Mode::None) return;
    setMode(mode);
    emit edited(m_number);
}

void Channel::applyStoredFlags()
{
    m_mode = Mode::None;
    if (readFlag(m_autoFlag))
        setMode(Mode::Auto);
    else if (readFlag(m_offFlag))
        setMode(Mode::Off);
    else if (readFlag(m_onFlag))
        setMode(Mode::On);

    for (int d = 0; d < 7; ++d)
        m_days[d] = readFlag(m_dayFlags[d]);
    if (m_number == 7)
        for (int d = 0; d < 7; ++d)
            m_finishDays[d] = readFlag(m_finishFlags[d]);
}

void Channel::editTime(int index, const QString& text)
{
    edit([&] { m_times.at(index).edit(text); });
    emit edited(m_number);
}

void Channel::setTimeFocus(int index, bool focused)
{
    edit([&] { m_times.at(index).setFocused(focused); });
}

void Channel::finishTimeEdit(int index)
{
    edit([&] { m_times.at(index).finishEdit(); });
    emit edited(m_number);
}

Failure Channel::refusal(const TimeField& f) const
{
    const int index = int(&f - m_times.data());
    return Failure(failure::kRefusedTime,
                   QStringLiteral("%1 \"%2\" is not a time hh:mm:ss; %3 was not written")
                       .arg(timeName(index), f.text(), f.field()));
}

void Channel::saveBound()
{
    storeCommandedMode();
    std::optional<Failure> refused;
    for (TimeField& tf : m_times) {
        if (tryParseTime(tf.text())) {
            tf.clearChanged();
            tf.finishEdit();
        } else if (!refused && tf.text() != m_record->value(tf.field()))
            refused = refusal(tf);
    }
    m_record->save();
    if (refused) throw *refused;
}

void Channel::ok()
{
    edit([this] { saveBound(); });
    emit edited(m_number);
}

void Channel::commandMode(Mode mode)
{
    if (mode == Mode::None) return;
    edit([&] {
        setMode(mode);
        m_commanded = mode;
        emit settingsChanged(m_number);
    });
    tick();
}

store::FieldValues Channel::unstoredCommandedMode() const
{
    if (!m_commanded || !m_loaded) return {};
    const QString yes = flagText(true), no = flagText(false);
    store::FieldValues fields{
        {store::modeField(m_number, QStringLiteral("Auto")), *m_commanded == Mode::Auto ? yes : no},
        {store::modeField(m_number, QStringLiteral("Off")), *m_commanded == Mode::Off ? yes : no},
        {store::modeField(m_number, QStringLiteral("On")), *m_commanded == Mode::On ? yes : no}};
    // A command that only repeats the stored mode writes nothing.
    const bool stored = std::all_of(fields.begin(), fields.end(),
                                    [this](const auto& f) { return m_record->value(f.first) == f.second; });
    return stored ? store::FieldValues{} : fields;
}

void Channel::commandedModeStored(const store::FieldValues& written)
{
    m_commanded.reset();
    m_record->noteWritten(written);
}

void Channel::storeCommandedMode()
{
    const store::FieldValues fields = unstoredCommandedMode();
    m_commanded.reset();
    if (!fields.empty()) m_record->writeFields(fields);
}

void Channel::startPulse()
{
    if (m_pulse) m_pulse->start();
}

void Channel::stopPulse()
{
    if (m_pulse) m_pulse->stop();
}

void Channel::selectPulse(bool onList, const QString& entry)
{
    if (m_pulse) m_pulse->select(onList, entry);
}

void Channel::validate()
{
    guarded(m_errors, [this] {
        std::optional<Failure> refused;
        for (TimeField& tf : m_times) {
            if (!tf.isChanged()) continue;
            tf.clearChanged();
            // A refused box does not hold up the boxes after it.
            if (!tryParseTime(tf.text())) {
                if (!refused) refused = refusal(tf);
                continue;
            }
            m_record->save();
            m_record->writeField(tf.field(), tf.text());
        }
        // Day and mode flags changed since the last save.
        m_record->save();
        if (refused) throw *refused;
    });
}

} // namespace kestra::model
