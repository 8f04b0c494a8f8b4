#pragma once

#include "views/channels/channelsource.h"

#include <QPointer>
#include <QWidget>
namespace kestra::client {
class RemoteSwitch;
}

namespace kestra::channels {

// One output of a running switch in another process, seen through its API. Its
// edits are commands; a refusal shows the text the switch's error routine
// composed, in the same box its own window shows. While the switch does not answer the
// window shows it as unknown and an edit is refused with a message.
class RemoteChannel : public ChannelSource
{
    Q_OBJECT
public:
    RemoteChannel(client::RemoteSwitch& remote, int number, QObject* parent);
    ~RemoteChannel() override;

    int number() const override { return m_number; }
    QString caption() const override;
    bool day(int d) const override;
    bool finishDay(int d) const override;
    Mode mode() const override;
    int timeCount() const override;
    QString timeText(int index) const override;
    QStringList startTimes() const override;
    QStringList runTimes() const override;
    bool timeEditPending(int index) const override;
    State state() const override;
    bool isLive() const override;
    bool isReachable() const override;
    bool hasPulse() const override { return m_number <= 2; }
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
    void send(QJsonObject command);
    void tell(const QString& text);

    client::RemoteSwitch& m_remote;
    int m_number;
    QString m_caption; // set once, as the switch's own window does
    QPointer<QWidget> m_window;
};

} // namespace kestra::channels
