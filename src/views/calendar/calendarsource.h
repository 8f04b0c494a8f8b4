#pragma once

#include "logic/calendar/settings.h"
#include "logic/schedule/schedule.h"

#include <QObject>
#include <functional>

namespace kestra::model {
class SwitchModel;
}
namespace kestra::client {
class RemoteSwitch;
}

namespace kestra::calendarview {

// What the calendar window shows and where it stores: the switch in this
// process (LocalCalendar), or a running switch it is attached to.
class CalendarSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The title of the switch's message boxes.
    virtual QString title() const = 0;
    // False while the switch does not answer: nothing is shown as live then.
    virtual bool isReachable() const { return true; }
    // The settings as stored; throws Failure naming why they cannot be read.
    virtual calendar::Settings forEdit() const = 0;
    virtual QString location(int output) const = 0;
    // Output m's controls as its window shows them, for the preview of today.
    virtual channels::ChannelControls controls(int output) const = 0;
    // Stores `after`, the window's settings, over `before`, what the window
    // showed when it loaded. `done` gets an empty text once stored, else the
    // switch's refusal; at once for the switch in this process.
    virtual void store(const calendar::Settings& before, const calendar::Settings& after,
                       std::function<void(const QString& refusal)> done) = 0;

signals:
    // The stored settings changed (any view's edit), or the switch came or went.
    void changed();
};

// The calendar of the switch in this process: stored whole, at once.
class LocalCalendar final : public CalendarSource
{
    Q_OBJECT
public:
    LocalCalendar(model::SwitchModel& model, QObject* parent);

    QString title() const override;
    calendar::Settings forEdit() const override;
    QString location(int output) const override;
    channels::ChannelControls controls(int output) const override;
    void store(const calendar::Settings& before, const calendar::Settings& after,
               std::function<void(const QString&)> done) override;

private:
    model::SwitchModel& m_model;
};

// The calendar of a running switch in another process, through its API. What
// the window changed goes as the calendar commands, one after the other; the
// settings are judged here first, so that a fault stops them before any is sent.
class RemoteCalendar final : public CalendarSource
{
    Q_OBJECT
public:
    RemoteCalendar(client::RemoteSwitch& remote, QObject* parent);

    QString title() const override;
    bool isReachable() const override;
    calendar::Settings forEdit() const override;
    QString location(int output) const override;
    channels::ChannelControls controls(int output) const override;
    void store(const calendar::Settings& before, const calendar::Settings& after,
               std::function<void(const QString&)> done) override;

private:
    client::RemoteSwitch& m_remote;
};

} // namespace kestra::calendarview
