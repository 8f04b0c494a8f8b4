#include "logic/inputs/inputlogic.h"

#include "base/clock.h"
#include "base/timetext.h"
#include "platform/port/bits.h"

namespace kestra::inputs {

QString inputText(int input, bool on)
{
    return QStringLiteral("INPUT %1 %2").arg(input).arg(on ? QStringLiteral("ON") : QStringLiteral("OFF"));
}

std::array<QString, 5> inputTexts(quint8 status)
{
    const auto on = port::decodeInputs(status);
    std::array<QString, 5> texts;
    for (int n = 1; n <= 5; ++n)
        texts[n - 1] = inputText(n, on[n - 1]);
    return texts;
}

// Rule 7/8: today is the recorded day and now lies in [start, start + hold).
// The sum is not wrapped at midnight: a hold ends when the date changes.
std::optional<int> holdEnd(const OverrideView& v, const QDateTime& now)
{
    const int start = parseTime(v.inp3Start);
    const int hold = parseTime(v.inp3Time);
    const QDate day = parseDate(v.inp3Date);
    const int t = secondsOfDay(now);
    if (now.date() == day && t >= start && t < start + hold) return start + hold;
    return std::nullopt;
}

namespace {
bool holding(const OverrideView& v, const QDateTime& now)
{
    return holdEnd(v, now).has_value();
}
} // namespace

void applyOverride(bool autoSelected, const OverrideView& v, const QDateTime& now, State& status, int* rule)
{
    if (!autoSelected) return;
    const State on = State::On;
    const State off = State::Off;
    const bool in1 = v.input1;
    const bool in2 = v.input2;
    const bool in3 = v.input3;
    auto set = [&](int box) { return v.boxes[box] == kBoxSet; };
    auto write = [&](int number, State text) {
        status = text;
        if (rule) *rule = number;
    };

    if (in1 && set(0)) write(1, on);
    if (in1 && set(1)) write(2, off);
    if (in2 && set(2)) write(3, on);
    if (in2 && set(3)) write(4, off);
    if (in3 && set(4)) write(5, on);
    if (in3 && set(5)) write(6, off);
    if (set(4) && holding(v, now)) write(7, on);
    if (set(5) && holding(v, now)) write(8, off);
}

namespace {
// Day and second, for ordering only.
std::optional<std::pair<qint64, int>> stampTime(const HoldStamp& s)
{
    const auto day = tryParseDate(s.date);
    const auto t = tryParseTime(s.time);
    if (!day || !t) return std::nullopt;
    return std::pair(day->toJulianDay(), *t);
}
} // namespace

HoldStamp stampAfterReread(const HoldStamp& shown, const HoldStamp& stored,
                           const std::optional<HoldStamp>& ended)
{
    const auto storedAt = stampTime(stored);
    if (!storedAt) return stampTime(shown) ? shown : stored;
    for (const std::optional<HoldStamp>& known : {std::optional<HoldStamp>(shown), ended}) {
        if (!known) continue;
        const auto at = stampTime(*known);
        if (at && *at >= *storedAt) return shown;
    }
    return stored;
}

} // namespace kestra::inputs
