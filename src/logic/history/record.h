#pragma once

#include "base/buildconfig.h"
#include "logic/schedule/schedule.h"
#include "platform/port/bits.h"

#include <QList>
#include <QString>
#include <QtGlobal>
#include <chrono>

namespace kestra::history {

// How long records are kept.
inline constexpr std::chrono::hours kKeep{400 * 24};

// Why an output's line or state changed. The numbers are stored in the file
// (and listed in its cause_names table), so they never change meaning.
enum class Cause : quint8 {
    Schedule = 1,
    Mode = 2,
    Input1 = 3,
    Input2 = 4,
    Input3 = 5,
    Hold = 6,
    Pulse = 7,
    StartUp = 8,
    Shutdown = 9,
    Polarity = 10,
    Unknown = 11,
    Sunrise = 12,
    Sunset = 13,
    Holiday = 14,
    Presence = 15,
};
inline constexpr int kLastCause = int(Cause::Presence);

// "schedule", "input 3 hold", "start-up" ...; "?" for a number that is no cause.
QString causeName(int code);
Cause fromChannel(channels::Cause c);

// One write of the data register.
struct PortRecord
{
    qint64 ms = 0;      // when: ms since 1970-01-01 00:00 UTC
    quint8 byte = 0;    // the byte written
    quint8 outputs = 0; // the outputs ON after it: bit m-1 stands for output m
    // Four bits per output (output m at bit 4(m-1)): the cause of its change, 0
    // when neither its line nor its state changed. Start-up and shutdown set all
    // eight lines, so they mark every output.
    quint32 causes = 0;

    int causeOf(int output) const { return int((causes >> (4 * (output - 1))) & 0xF); }
    bool marks(int output) const { return causeOf(output) != 0; }
    bool isOn(int output) const { return outputs & (1u << (output - 1)); }
    bool operator==(const PortRecord&) const = default;
};

// One change of the five inputs as the monitoring read them.
struct InputRecord
{
    qint64 ms = 0;
    quint8 inputs = 0;  // ON after it: bit n-1 stands for input n
    quint8 changed = 0; // which changed; all five for the first reading of a run
    bool isOn(int input) const { return inputs & (1u << (input - 1)); }
    bool hasChanged(int input) const { return changed & (1u << (input - 1)); }
    bool operator==(const InputRecord&) const = default;
};

// Sets output m's cause in a causes value.
inline quint32 withCause(quint32 causes, int output, Cause c)
{
    const int shift = 4 * (output - 1);
    return (causes & ~(0xFu << shift)) | (quint32(c) << shift);
}

// The outputs ON for a byte on the port under the polarity option.
using port::outputsOf;

// "History3BC.db", beside the settings database.
QString historyFileName(const BuildConfig& build);
QString historyPath(const BuildConfig& build);

// A duration as hours:minutes:seconds, hours not limited to a day: "130:05:09".
QString formatDuration(qint64 ms);

} // namespace kestra::history
