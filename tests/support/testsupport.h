#pragma once

// Small pieces the test folders share.

#include "base/state.h"
#include "platform/port/port.h"

#include <QStringList>
#include <QTemporaryDir>
#include <array>

namespace kestra::test {

// A port environment with no printer port: the simulated file port-3BC in `dir`.
inline port::Environment simulatedPortEnvironment(const QTemporaryDir& dir)
{
    port::Environment env;
    env.parportProcDir = dir.filePath(QStringLiteral("no-parport"));
    env.deviceDir = dir.filePath(QStringLiteral("no-dev"));
    env.simulatedPortPath = dir.filePath(QStringLiteral("port-3BC"));
    return env;
}

inline const QStringList kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// "Mon Wed" -> the day toggles, Sunday first.
inline std::array<bool, 7> days(const QString& names)
{
    std::array<bool, 7> d{};
    for (const QString& n : names.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        d[kDayNames.indexOf(n)] = true;
    return d;
}

// "ON", "OFF", anything else: the state not decided yet.
inline State stateFromText(const QString& text)
{
    if (text == QLatin1String("ON")) return State::On;
    if (text == QLatin1String("OFF")) return State::Off;
    return State::Calculating;
}

} // namespace kestra::test
