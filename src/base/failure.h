#pragma once

#include <QString>
#include <exception>

namespace kestra {

// The one failure type of the program: a number and a description. Handlers
// catch it at their end and hand it to their window's error routine.
struct Failure : std::exception
{
    int number = 0;
    QString description;
    int errorNumber = 0; // errno of the system call that failed, 0 when none did

    Failure() = default;
    Failure(int n, QString text, int err = 0) : number(n), description(std::move(text)), errorNumber(err) {}
    const char* what() const noexcept override { return "kestra::Failure"; }
    bool pending() const { return number != 0; }
};

namespace failure {
// A text that does not convert to the time, number, date or flag needed.
inline constexpr int kConversion = 13;
// A time box whose text was refused when the record was written.
inline constexpr int kRefusedTime = 524;
// The printer port cannot be reached.
inline constexpr int kPort = 48;
// The settings database could not be read or written.
inline constexpr int kDatabase = 3051;
// A file outside the program directory (the autostart entry) could not be written.
inline constexpr int kFile = 75;
// Anything unexpected (a std::exception escaping a handler).
inline constexpr int kInternal = 51;

inline bool isBadEntry(int number)
{
    return number == kConversion || number == kRefusedTime;
}
} // namespace failure

} // namespace kestra
