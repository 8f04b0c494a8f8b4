#include "platform/port/bits.h"

namespace kestra::port {

quint8 composeOutputByte(const std::array<bool, 8>& on, bool fiveVoltsOn)
{
    int sum = 0;
    for (int m = 1; m <= 8; ++m)
        if (on[m - 1])
            sum += outputBit(m);
    return quint8(fiveVoltsOn ? sum : 255 - sum);
}

std::array<bool, 5> decodeInputs(quint8 status)
{
    return {(status & 0x80) != 0, (status & 0x40) == 0, (status & 0x20) == 0, (status & 0x10) == 0,
            (status & 0x08) == 0};
}

quint8 encodeInputs(const std::array<bool, 5>& on)
{
    quint8 s = 0;
    if (on[0])
        s |= 0x80;
    if (!on[1])
        s |= 0x40;
    if (!on[2])
        s |= 0x20;
    if (!on[3])
        s |= 0x10;
    if (!on[4])
        s |= 0x08;
    return s;
}

} // namespace kestra::port
