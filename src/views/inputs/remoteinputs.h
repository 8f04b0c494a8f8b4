#pragma once

#include "views/inputs/inputssource.h"

#include <QJsonObject>
#include <QPointer>
#include <QWidget>

namespace kestra::client {
class RemoteSwitch;
}

namespace kestra::inputs {

// The inputs of a running switch in another process, seen through its API. Its
// edits are commands; a refusal shows the text the switch's error routine
// composed. While the switch does not answer the levels show as unknown and an
// edit is refused with a message.
class RemoteInputs : public InputsSource
{
    Q_OBJECT
public:
    explicit RemoteInputs(client::RemoteSwitch& remote, QObject* parent = nullptr);

    QString levelText(int n) const override;
    int mapping(int n, bool on, int output) const override;
    QStringList runTimes() const override { return {}; }
    QString holdTimeText() const override;
    bool holdTimeEditPending() const override { return true; } // the switch judges it
    QString soundName(int input) const override;
    QString input4Directory() const override;
    bool echoesLater() const override { return true; }

    void clickMapping(int n, bool on, int output, int value) override;
    void editHoldTime(const QString& text) override;
    void setHoldTimeFocus(bool focused) override;
    void finishHoldTimeEdit() override;
    void editSoundName(int input, const QString& name) override;
    void pickSound(int input, const QString& name) override;
    void setInput4Directory(const QString& dir) override;
    void ok() override;
    void setWindow(QWidget* window) override { m_window = window; }

private:
    void taken();
    void send(const QJsonObject& command);
    QJsonObject part(const QString& name) const;

    client::RemoteSwitch& m_remote;
    QPointer<QWidget> m_window;
    QJsonObject m_shown; // the inputs as last told, to say only what changed
};

} // namespace kestra::inputs
