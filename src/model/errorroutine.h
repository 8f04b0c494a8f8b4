#pragma once

#include "base/failure.h"

#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

namespace kestra::model {

// The time-format message of the main and channel windows, and that of the inputs window.
inline const QString kTimeFormatMessage = QStringLiteral(
    "Enter the correct format ie. hh:mm:ss. Please no text. Change values by only 1 digit at a "
    "time, 00:00:00<>23:59:59");
inline const QString kInputsTimeFormatMessage =
    QStringLiteral("Enter the correct format ie. hh:mm:ss. Change values by only 1 digit at a time, "
                   "00:00:00<>23:59:59");

// The message with the failure's number and description appended.
QString badEntryText(const Failure& f);

// A window's error routine (ERRORS). Bad entries (13, 524) show the window's
// message and then re-read the stored settings. At most one such message is
// open at a time in the whole program, and one bad value that many windows
// meet (an all-empty record, one hold time read by eight channels) is told once.
// Database failures are told once (a file that cannot be written must not pass
// for saved); other failures, such as an unreachable port, pass silently here
// and are shown where the port is shown.
class ErrorRoutine
{
public:
    using Compose = std::function<QString(const Failure&)>;
    ErrorRoutine(QObject* window, QString title, Compose compose, std::function<void()> reread);
    ~ErrorRoutine();
    ErrorRoutine(const ErrorRoutine&) = delete;
    ErrorRoutine& operator=(const ErrorRoutine&) = delete;

    // The view whose box this routine shows (its owner when it has one).
    void setWindow(QObject* window) { m_window = window; }

    void run(const Failure& f);
    void run() { run(Failure{}); }
    bool isShowing() const { return m_showing; }

    // While the program shuts down nobody may be asked anything: an unattended
    // SIGTERM must not wait on a message box. Failures are then only logged.
    static void setQuiet(bool quiet);

private:
    QPointer<QObject> m_window;
    QString m_title;
    Compose m_compose;
    std::function<void()> m_reread;
    bool m_showing = false;
};

// The message of an unexpected failure (a fault of the program, not of an entry).
QString internalText(const Failure& f);

// Calls `handler`; a failure it throws goes to `routine`, which also runs at the
// normal end. Anything else it throws is a fault of the program: `rollback` (when
// given) undoes what the handler changed, and the routine reports it on standard
// error and in a box. No exception leaves this function.
void guarded(ErrorRoutine& routine, const std::function<void()>& handler,
             const std::function<void()>& rollback = {});

// What a failure told while an ErrorCapture runs: its number and description,
// and the text the routine's box would have shown.
struct CapturedFailure
{
    int number = 0;
    QString description;
    QString text;
};

// While one lives (on the main thread), a failure that reaches any error routine
// is kept here for a caller that is no window (a client of the running switch)
// instead of being shown: nobody is asked, and the routine goes on as the box's
// OK would (a bad entry re-reads the stored settings). The first failure counts.
class ErrorCapture
{
public:
    ErrorCapture();
    ~ErrorCapture();
    ErrorCapture(const ErrorCapture&) = delete;
    ErrorCapture& operator=(const ErrorCapture&) = delete;

    const std::optional<CapturedFailure>& failure() const { return m_failure; }
    // The capture in force, if any.
    static ErrorCapture* current();
    void take(const Failure& f, const QString& text);

private:
    ErrorCapture* m_outer;
    std::optional<CapturedFailure> m_failure;
};

// Runs `step`; a failure is written to standard error, prefixed with `what`, and
// swallowed. For the steps of an ending that must all be tried.
void logged(const QString& what, const std::function<void()>& step);

} // namespace kestra::model
