#pragma once

#include <QObject>
#include <QStringList>

class QWidget;

namespace kestra::model {
class Inputs;
}

namespace kestra::inputs {

// What the inputs window shows of the switch's inputs and the edits it hands
// over: the switch in this process (LocalInputs), or a running switch it is
// attached to (RemoteInputs).
class InputsSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual QString levelText(int n) const = 0;
    // A mapping box of inputs 1 to 3: 0 clear, kBoxSet, 2 greyed.
    virtual int mapping(int n, bool on, int output) const = 0;
    virtual QStringList runTimes() const = 0;
    virtual QString holdTimeText() const = 0;
    // The hold time typed has not been judged yet.
    virtual bool holdTimeEditPending() const = 0;
    virtual QString soundName(int input) const = 0;
    virtual QString input4Directory() const = 0;
    // Its edits come back later as events: a box being typed in keeps what is typed.
    virtual bool echoesLater() const { return false; }

    virtual void clickMapping(int n, bool on, int output, int value) = 0;
    virtual void editHoldTime(const QString& text) = 0;
    virtual void setHoldTimeFocus(bool focused) = 0;
    virtual void finishHoldTimeEdit() = 0;
    virtual void editSoundName(int input, const QString& name) = 0;
    virtual void pickSound(int input, const QString& name) = 0;
    virtual void setInput4Directory(const QString& dir) = 0;
    virtual void ok() = 0;
    // The view that shows the inputs' messages.
    virtual void setWindow(QWidget* window) = 0;

signals:
    void levelsChanged();
    // Mapping, hold time or sound names changed: by another view, or stored.
    void recordChanged();
    void input4DirectoryChanged();
};

// The inputs of the switch in this process.
class LocalInputs : public InputsSource
{
    Q_OBJECT
public:
    explicit LocalInputs(model::Inputs& inputs, QObject* parent = nullptr);

    QString levelText(int n) const override;
    int mapping(int n, bool on, int output) const override;
    QStringList runTimes() const override;
    QString holdTimeText() const override;
    bool holdTimeEditPending() const override;
    QString soundName(int input) const override;
    QString input4Directory() const override;

    void clickMapping(int n, bool on, int output, int value) override;
    void editHoldTime(const QString& text) override;
    void setHoldTimeFocus(bool focused) override;
    void finishHoldTimeEdit() override;
    void editSoundName(int input, const QString& name) override;
    void pickSound(int input, const QString& name) override;
    void setInput4Directory(const QString& dir) override;
    void ok() override;
    void setWindow(QWidget* window) override;

private:
    model::Inputs& m_inputs;
};

} // namespace kestra::inputs
