#include "logic/panel/panellogic.h"

#include "platform/port/bits.h"

namespace kestra::panel {

std::array<Lamp, 8> lampsFor(quint8 data, bool fiveVoltsOn)
{
    std::array<Lamp, 8> lamps{};
    for (int m = 1; m <= 8; ++m) {
        const bool high = (data & port::outputBit(m)) != 0;
        lamps[m - 1] = {high, high == fiveVoltsOn};
    }
    return lamps;
}

QString levelText(bool high)
{
    return high ? QStringLiteral("5 V") : QStringLiteral("0 V");
}

QString bitsText(quint8 value)
{
    const QString bits = QStringLiteral("%1").arg(value, 8, 2, QLatin1Char('0'));
    return bits.left(4) + QLatin1Char(' ') + bits.mid(4);
}

QString controlMeaning(quint8 control)
{
    switch (control) {
    case 2:
        return QStringLiteral("program running (auto-linefeed set, data lines are outputs)");
    case 0:
        return QStringLiteral("program not running (cleared at shutdown)");
    default:
        return QStringLiteral("unexpected value: the program writes only 2 and 0");
    }
}

std::optional<BuildConfig> buildForArgument(const QString& argument)
{
    QString a = argument.trimmed().toLower();
    if (a.startsWith(QLatin1String("0x"))) a = a.mid(2);
    if (a == QLatin1String("3bc") || a == QLatin1String("kestra3")) return kestra3Config();
    if (a == QLatin1String("278") || a == QLatin1String("kestra2")) return kestra2Config();
    return std::nullopt;
}

QString inputPinText(int input)
{
    static const char* const names[5] = {"pin 11, busy", "pin 10, acknowledge", "pin 12, paper end",
                                         "pin 13, select", "pin 15, error"};
    return QLatin1String(names[input - 1]);
}

} // namespace kestra::panel
