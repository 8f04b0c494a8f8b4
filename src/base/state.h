#pragma once

#include <QString>

namespace kestra {

// The published state of an output. It is a word only where it is shown or stored.
enum class State { Calculating, On, Off };

inline State stateOf(bool on)
{
    return on ? State::On : State::Off;
}

// "calculating", "ON", "OFF"
inline QString stateText(State s)
{
    switch (s) {
    case State::On:
        return QStringLiteral("ON");
    case State::Off:
        return QStringLiteral("OFF");
    case State::Calculating:
        break;
    }
    return QStringLiteral("calculating");
}

} // namespace kestra
