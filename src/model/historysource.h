#pragma once

#include "logic/history/hours.h"

#include <QObject>

namespace kestra::history {

class Recorder;

// What the history window reads besides the file: where the file is, and the
// operating hours as the switch counts them. The switch in this process
// (RecorderHistory), or a running switch the window is attached to.
class HistorySource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The history file; the window reads it on a read-only connection of its own.
    virtual QString path() const = 0;
    // What the switch still holds is in the file when this returns (as far as it can be).
    virtual void sync() {}
    // Why the history is not kept in this run; empty while it is.
    virtual QString problem() const = 0;
    virtual bool isCounting() const = 0;
    virtual QString hoursProblem() const = 0;
    virtual Hours hours(int output) const = 0;
    virtual void resetHours(int output) = 0;

signals:
    // Output m's hours were told again (a switch elsewhere tells them with its events).
    void hoursChanged(int output);
    // The hours at the start are counted: the records that waited are in the file.
    void countingEnded();
    // The switch refused a reset, in its words.
    void refused(const QString& text);
};

// The history of the switch in this process.
class RecorderHistory final : public HistorySource
{
    Q_OBJECT
public:
    RecorderHistory(Recorder& recorder, QObject* parent);

    QString path() const override;
    void sync() override;
    QString problem() const override;
    bool isCounting() const override;
    QString hoursProblem() const override;
    Hours hours(int output) const override;
    void resetHours(int output) override;

private:
    Recorder& m_recorder;
};

// Output m's operating hours in a sentence: also while they are being counted,
// when they could not be, or when no history is kept.
QString hoursText(int output, const HistorySource& source);

} // namespace kestra::history
