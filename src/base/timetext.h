#pragma once

#include <QDate>
#include <QString>
#include <optional>

namespace kestra {

inline constexpr int kSecondsPerDay = 24 * 60 * 60;

// The time conversion shared by every channel and by the input 3 hold:
// "h:mm:ss", "hh:mm:ss" and "h:mm", hours 0..23, minutes and seconds 0..59.
// Returns whole seconds since midnight (a run time is a duration written the same way).
std::optional<int> tryParseTime(const QString& text);
// As above; a text that does not convert throws Failure 13.
int parseTime(const QString& text);
// "hh:mm:ss"
QString formatTime(int secondsOfDay);

// Dates are stored as ISO text, "yyyy-MM-dd".
std::optional<QDate> tryParseDate(const QString& text);
QDate parseDate(const QString& text);
QString formatDate(const QDate& date);

// Flags are stored as "True" / "False". Reading accepts either word in any case
// and numbers (0 false, anything else true), as a boolean conversion does.
std::optional<bool> tryParseFlag(const QString& text);
bool parseFlag(const QString& text);
QString flagText(bool value);

// Whole decimal number; throws Failure 13 when the text is not one.
int parseNumber(const QString& text);

} // namespace kestra
