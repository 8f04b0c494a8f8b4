#include "logic/history/record.h"

#include "base/paths.h"

namespace kestra::history {

QString causeName(int code)
{
    switch (Cause(code)) {
    case Cause::Schedule:
        return QStringLiteral("schedule");
    case Cause::Mode:
        return QStringLiteral("mode");
    case Cause::Input1:
        return QStringLiteral("input 1");
    case Cause::Input2:
        return QStringLiteral("input 2");
    case Cause::Input3:
        return QStringLiteral("input 3");
    case Cause::Hold:
        return QStringLiteral("input 3 hold");
    case Cause::Pulse:
        return QStringLiteral("pulse");
    case Cause::StartUp:
        return QStringLiteral("start-up");
    case Cause::Shutdown:
        return QStringLiteral("shutdown");
    case Cause::Polarity:
        return QStringLiteral("polarity");
    case Cause::Unknown:
        return QStringLiteral("unknown");
    case Cause::Sunrise:
        return QStringLiteral("sunrise");
    case Cause::Sunset:
        return QStringLiteral("sunset");
    case Cause::Holiday:
        return QStringLiteral("holiday");
    case Cause::Presence:
        return QStringLiteral("presence");
    }
    return QStringLiteral("?");
}

Cause fromChannel(channels::Cause c)
{
    switch (c) {
    case channels::Cause::Schedule:
        return Cause::Schedule;
    case channels::Cause::Mode:
        return Cause::Mode;
    case channels::Cause::Input1:
        return Cause::Input1;
    case channels::Cause::Input2:
        return Cause::Input2;
    case channels::Cause::Input3:
        return Cause::Input3;
    case channels::Cause::Hold:
        return Cause::Hold;
    case channels::Cause::Pulse:
        return Cause::Pulse;
    case channels::Cause::Sunrise:
        return Cause::Sunrise;
    case channels::Cause::Sunset:
        return Cause::Sunset;
    case channels::Cause::Holiday:
        return Cause::Holiday;
    case channels::Cause::Presence:
        return Cause::Presence;
    case channels::Cause::None:
        break;
    }
    return Cause::Unknown;
}

QString historyFileName(const BuildConfig& build)
{
    return QStringLiteral("History%1.db").arg(build.portText());
}

QString historyPath(const BuildConfig& build)
{
    return programDirectory() + QLatin1Char('/') + historyFileName(build);
}

QString formatDuration(qint64 ms)
{
    const qint64 s = qMax<qint64>(0, ms) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace kestra::history
