#include "model/inputs.h"

#include "base/paths.h"
#include "base/ticker.h"
#include "base/timetext.h"
#include "platform/audio/soundfiles.h"
#include "platform/audio/soundplayer.h"
#include "platform/port/bits.h"
#include "storage/store/datasource.h"
#include "storage/store/schema.h"

#include <chrono>

namespace kestra::model {

using namespace std::chrono_literals;
using inputs::HoldStamp;

namespace {
constexpr auto kCyclePeriod = 200ms;
const QString kMidnight = QStringLiteral("00:00:00");
} // namespace

Inputs::Inputs(const Context& ctx, Ticker& ticker, QObject* parent)
    : QObject(parent), m_ctx(ctx), m_record(std::make_unique<store::DataSource>(ctx.database)),
      m_errors(
          nullptr, ctx.build.title, [](const Failure&) { return kInputsTimeFormatMessage; },
          [this] { reread(); })
{
    setObjectName(QStringLiteral("Inputs"));
    m_cycleTimer.setParent(this);
    m_cycleTimer.setObjectName(QStringLiteral("Timer1"));
    m_cycleTimer.setInterval(kCyclePeriod);
    ticker.attach(&m_cycleTimer, Ticker::Rank::Inputs, [this] { cycle(); });
    m_input4Player = new inputs::SoundPlayer(QStringLiteral("MMControl1"), this);
    m_input5Player = new inputs::SoundPlayer(QStringLiteral("MMControl2"), this);
    for (auto& input : m_flags)
        for (auto& action : input)
            action.fill(flagText(false));
    bindRecord();
}

Inputs::~Inputs() = default;

void Inputs::bindRecord()
{
    for (int n = 1; n <= 3; ++n) {
        for (int a = 0; a < 2; ++a) {
            for (int m = 1; m <= 8; ++m) {
                int& box = m_boxes[n - 1][a][m - 1];
                QString& flag = m_flags[n - 1][a][m - 1];
                // A text that reads neither true nor false (empty in a hand-made
                // file) loads as a cleared box and is stored as "False" next time.
                m_record->bind(
                    store::mappingField(n, a == 0, m), [&flag] { return flag; },
                    [&box, &flag](const QString& v) {
                        const bool set = tryParseFlag(v).value_or(false);
                        box = set ? inputs::kBoxSet : 0;
                        flag = flagText(set);
                    });
            }
        }
    }
    // The hold time reaches the record only through the validation, which refuses
    // a text that is not a time; a plain save leaves the stored value alone.
    m_record->bind(
        QStringLiteral("INP3TIME"), [this] { return m_record->value(QStringLiteral("INP3TIME")); },
        [this](const QString& v) { m_holdTime.setStored(v); });
    m_record->bind(
        QStringLiteral("inp3start"), [this] { return m_holdStart; },
        [this](const QString& v) { m_holdStart = v; });
    m_record->bind(
        QStringLiteral("inp3date"), [this] { return m_holdDate; },
        [this](const QString& v) { m_holdDate = v; });
    // Both names show the one stored name; of two different edits before a
    // commit, the later one is kept.
    m_record->bind(
        QStringLiteral("file1"), [this] { return m_lastEditedName == 5 ? m_input5Name : m_input4Name; },
        [this](const QString& v) {
            m_input4Name = m_input5Name = v;
            m_lastEditedName = 0;
        });
    m_record->setValidationHandler([this] { validate(); });
}

void Inputs::load()
{
    // The monitoring needs nothing from the record; it runs even if the rest fails.
    m_cycleTimer.start();
    m_runTimes = m_ctx.database.listValues(store::kRunTimesTable, store::kRunTimesField);
    m_record->refresh();
    m_input4Directory = homeDirectory();
    emit recordChanged();
    emit input4DirectoryChanged();
}

void Inputs::unload()
{
    m_cycleTimer.stop();
    m_input4Player->close();
    m_input5Player->close();
    m_record->close();
}

QString Inputs::levelText(int input) const
{
    const std::optional<bool> on = level(input);
    return on ? inputs::inputText(input, *on) : QStringLiteral("calculating");
}

inputs::SoundPlayer& Inputs::player(int number) const
{
    return number == 1 ? *m_input4Player : *m_input5Player;
}

QString Inputs::soundPath(int input) const
{
    if (input == 4) return inputs::soundPath(m_input4Directory, m_input4Name);
    return inputs::soundPath(programDirectory(), m_input5Name);
}

inputs::OverrideView Inputs::overrideView(int channel) const
{
    inputs::OverrideView v;
    v.input1 = m_levels[0].value_or(false);
    v.input2 = m_levels[1].value_or(false);
    v.input3 = m_levels[2].value_or(false);
    int i = 0;
    for (int n = 0; n < 3; ++n)
        for (int a = 0; a < 2; ++a)
            v.boxes[i++] = m_boxes[n][a].at(channel - 1);
    v.inp3Start = m_holdStart;
    v.inp3Time = m_holdTime.tickText();
    v.inp3Date = m_holdDate;
    return v;
}

void Inputs::clickMapping(int input, bool on, int output, int value)
{
    guarded(m_errors, [&] {
        // Checked first, so that an input or output out of range changes nothing.
        int& box = m_boxes.at(input - 1).at(on ? 0 : 1).at(output - 1);
        m_flags[input - 1][on ? 0 : 1][output - 1] = flagText(value == inputs::kBoxSet);
        box = value;
    });
    emit edited();
}

void Inputs::editHoldTime(const QString& text)
{
    m_holdTime.edit(text);
    // A new hold time ends a running hold: from midnight it can only hold while
    // the time of day is below the hold time.
    if (!m_endedHold) m_endedHold = HoldStamp{m_holdDate, m_holdStart};
    m_holdStart = kMidnight;
    emit edited();
}

void Inputs::finishHoldTimeEdit()
{
    guarded(m_errors, [this] { m_holdTime.finishEdit(); });
    emit edited();
}

void Inputs::editSoundName(int input, const QString& name)
{
    (input == 4 ? m_input4Name : m_input5Name) = name;
    m_lastEditedName = input;
    emit edited();
}

void Inputs::pickSound(int input, const QString& name)
{
    guarded(m_errors, [&] {
        const QString dir = input == 4 ? m_input4Directory : programDirectory();
        inputs::startSound(input == 4 ? *m_input4Player : *m_input5Player, inputs::soundPath(dir, name));
        editSoundName(input, name);
        emit recordChanged();
    });
}

void Inputs::setInput4Directory(const QString& dir)
{
    if (dir == m_input4Directory) return;
    m_input4Directory = dir;
    emit input4DirectoryChanged();
}

void Inputs::reread()
{
    const HoldStamp shown{m_holdDate, m_holdStart};
    try {
        m_record->refresh();
    } catch (const Failure& f) {
        // The validation refused the hold time (its mark is cleared now); the
        // stored record is still what the caller wants to see.
        if (!failure::isBadEntry(f.number)) throw;
        m_record->refresh();
    }
    // A running hold goes on: the stamp is measured, not edited.
    const HoldStamp kept = inputs::stampAfterReread(shown, HoldStamp{m_holdDate, m_holdStart}, m_endedHold);
    m_holdDate = kept.date;
    m_holdStart = kept.time;
    emit recordChanged();
}

void Inputs::validate()
{
    if (!m_holdTime.isChanged()) return;
    m_holdTime.clearChanged();
    m_record->save();
    const QString text = m_holdTime.text();
    const auto seconds = tryParseTime(text);
    if (!seconds)
        throw Failure(
            failure::kRefusedTime,
            QStringLiteral("The hold time \"%1\" is not a time hh:mm:ss and was not stored.").arg(text));
    const QString stored = formatTime(*seconds);
    m_record->writeField(QStringLiteral("INP3TIME"), stored);
    m_holdTime.setStored(stored);
    emit recordChanged();
}

void Inputs::ok()
{
    guarded(m_errors, [this] { m_record->close(); });
    emit edited();
}

QString Inputs::storedValue(const QString& field) const
{
    return m_record->value(field);
}

inputs::OverrideView Inputs::overrideView(int channel, const QDateTime& now)
{
    followClock(now);
    return overrideView(channel);
}

void Inputs::setStamp(const QDateTime& at)
{
    m_holdStart = formatTime(secondsOfDay(at));
    m_holdDate = formatDate(at.date());
}

void Inputs::followClock(const QDateTime& now)
{
    const QDateTime last = m_lastLook;
    m_lastLook = now;
    const auto day = tryParseDate(m_holdDate);
    const auto second = tryParseTime(m_holdStart);
    if (!day || !second) return;
    const QDateTime stamp(*day, QTime::fromMSecsSinceStartOfDay(*second * 1000));
    if (!last.isValid()) {
        if (stamp <= now) return;
        setStamp(now.addSecs(-m_holdTime.tickSeconds().value_or(0)));
        return;
    }
    // Set back by a second or more; a slewing clock moves by milliseconds.
    const qint64 step = last.secsTo(now);
    if (step < 0) setStamp(stamp.addSecs(step));
}

void Inputs::cycle()
{
    guarded(m_errors, [this] {
        const auto on = port::decodeInputs(m_ctx.port.readStatus());
        const auto before = m_levels;
        for (int n = 1; n <= 3; ++n)
            m_levels[n - 1] = on[n - 1];
        const QDateTime now = m_ctx.clock.now();
        followClock(now);
        if (on[2]) {
            setStamp(now);
            m_endedHold.reset();
        }
        const bool forcing = before[0] != m_levels[0] || before[1] != m_levels[1] || before[2] != m_levels[2];
        // Held inputs restart their sound on every cycle.
        m_levels[3] = on[3];
        if (on[3]) inputs::startSound(*m_input4Player, soundPath(4));
        m_levels[4] = on[4];
        if (on[4]) inputs::startSound(*m_input5Player, soundPath(5));
        if (before != m_levels) emit levelsChanged();
        if (forcing) emit overrideInputsChanged();
    });
}

} // namespace kestra::model
