#pragma once

#include <QtGlobal>
#include <array>

namespace kestra::port {

// Output m (1..8) is bit m-1 of the data register.
inline constexpr quint8 outputBit(int output) { return quint8(1u << (output - 1)); }

// The byte for the data register. With fiveVoltsOn (the polarity option checked)
// an ON output is a 1 bit; otherwise an ON output is a 0 bit.
quint8 composeOutputByte(const std::array<bool, 8>& on, bool fiveVoltsOn);

// The byte that leaves every output OFF under the given polarity.
inline constexpr quint8 allOffByte(bool fiveVoltsOn) { return fiveVoltsOn ? 0 : 255; }

// The outputs ON (bit m-1 for output m) that a data register byte drives under the polarity.
inline constexpr quint8 outputsOf(quint8 byte, bool fiveVoltsOn) { return fiveVoltsOn ? byte : quint8(~byte); }

// Inputs 1..5 from the status register: input 1 is bit 7 and reads ON when set;
// inputs 2..5 are bits 6..3 and read ON when clear. Bits 2..0 never matter.
std::array<bool, 5> decodeInputs(quint8 status);

// The status byte that reads as the given inputs (bits 2..0 clear), for tools
// that stand in for the hardware.
quint8 encodeInputs(const std::array<bool, 5>& on);

} // namespace kestra::port
