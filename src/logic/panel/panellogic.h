#pragma once

#include "base/buildconfig.h"

#include <QString>
#include <QtGlobal>
#include <array>
#include <optional>

namespace kestra::panel {

// What one data line shows: its level, and whether that level means ON under
// the polarity option in force.
struct Lamp
{
    bool high = false; // 5 V
    bool on = false;
};

// The eight lamps for a data byte. fiveVoltsOn is the polarity option
// (SOURCEPORT checked: 5 V is ON; unchecked: 0 V is ON).
std::array<Lamp, 8> lampsFor(quint8 data, bool fiveVoltsOn);

// "5 V" / "0 V"
QString levelText(bool high);

// "1000 0001": the byte as the lines read, output 8 on the left.
QString bitsText(quint8 value);

// What the control register tells about the program: 2 while it runs, 0 after
// it has ended.
QString controlMeaning(quint8 control);

// The build a port argument names: "3BC", "0x3bc", "kestra3" or "278", "0x278",
// "kestra2" (any case). Anything else is nullopt.
std::optional<BuildConfig> buildForArgument(const QString& argument);

// The pins of the five inputs in the standard printer-port layout.
QString inputPinText(int input);

} // namespace kestra::panel
