#pragma once

#include "base/state.h"
#include "logic/schedule/schedule.h"

#include <QObject>
#include <QStringList>

namespace kestra::model {
class Channel;
}

namespace kestra::channels {

// What a channel window shows of its output and the edits it hands over: the
// switch in this process (LocalChannel), or a running switch it is attached to.
class ChannelSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual int number() const = 0;
    virtual QString caption() const = 0;
    virtual bool day(int d) const = 0; // 0 Sunday .. 6 Saturday
    virtual bool finishDay(int d) const = 0;
    virtual Mode mode() const = 0;
    virtual int timeCount() const = 0;
    virtual QString timeText(int index) const = 0;
    // The box offers the start times (else the run times).
    virtual bool offersStartTimes(int index) const { return index % 2 == 0; }
    virtual QStringList startTimes() const = 0;
    virtual QStringList runTimes() const = 0;
    // The text typed has not been judged yet.
    virtual bool timeEditPending(int index) const = 0;
    virtual State state() const = 0;
    // The channel runs (loaded; of a switch that is attached).
    virtual bool isLive() const = 0;
    // What the window shows is the switch's as it is now: false while the switch
    // a window is attached to does not answer.
    virtual bool isReachable() const { return true; }
    // The channel of this process; null for a channel of a switch in another process.
    virtual model::Channel* local() const { return nullptr; }

    // Channels 1 and 2 pulse: the entries of the ON and OFF lists, the entry
    // chosen in each, and channel 2's minute counters as its window shows them.
    virtual bool hasPulse() const { return false; }
    virtual QStringList pulseEntries(bool /*onList*/) const { return {}; }
    virtual QString pulseSelection(bool /*onList*/) const { return {}; }
    virtual QString pulseCounter(bool /*start*/) const { return {}; }

    virtual void clickDay(int d, bool ticked) = 0;
    virtual void clickFinishDay(int d, bool ticked) = 0;
    virtual void selectMode(Mode mode) = 0;
    virtual void editTime(int index, const QString& text) = 0;
    virtual void setTimeFocus(int index, bool focused) = 0;
    virtual void finishTimeEdit(int index) = 0;
    virtual void ok() = 0;
    virtual void startPulse() {}
    virtual void stopPulse() {}
    virtual void selectPulse(bool /*onList*/, const QString& /*entry*/) {}
    // The view that shows this channel's messages.
    virtual void setWindow(QWidget* window) = 0;

signals:
    void settingsChanged();
    void stateChanged();
    // A pulse phase began or ended, a selection or a counter changed.
    void pulseChanged();
};

// The channel of the switch in this process.
class LocalChannel : public ChannelSource
{
    Q_OBJECT
public:
    explicit LocalChannel(model::Channel& channel, QObject* parent = nullptr);

    int number() const override;
    QString caption() const override;
    bool day(int d) const override;
    bool finishDay(int d) const override;
    Mode mode() const override;
    int timeCount() const override;
    QString timeText(int index) const override;
    bool offersStartTimes(int index) const override;
    QStringList startTimes() const override;
    QStringList runTimes() const override;
    bool timeEditPending(int index) const override;
    State state() const override;
    bool isLive() const override;
    model::Channel* local() const override { return &m_channel; }
    bool hasPulse() const override;
    QStringList pulseEntries(bool onList) const override;
    QString pulseSelection(bool onList) const override;
    QString pulseCounter(bool start) const override;

    void clickDay(int d, bool ticked) override;
    void clickFinishDay(int d, bool ticked) override;
    void selectMode(Mode mode) override;
    void editTime(int index, const QString& text) override;
    void setTimeFocus(int index, bool focused) override;
    void finishTimeEdit(int index) override;
    void ok() override;
    void startPulse() override;
    void stopPulse() override;
    void selectPulse(bool onList, const QString& entry) override;
    void setWindow(QWidget* window) override;

private:
    model::Channel& m_channel;
};

} // namespace kestra::channels
