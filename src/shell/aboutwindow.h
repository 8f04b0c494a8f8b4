#pragma once

#include "base/buildconfig.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;

namespace kestra::model {
class SwitchModel;
}
namespace kestra::client {
class RemoteSwitch;
}

namespace kestra::shell {

// What About says about the time boxes.
extern const QString kTimeFormsText;

// frmAbout: the program's title and version, and the polarity option `sport`
// that every scan reads. Its OK stores the option.
class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    AboutWindow(model::SwitchModel& model, QWidget* owner);
    // The About window of a program attached to the running switch: the option
    // is the switch's, shown and stored through its API.
    AboutWindow(client::RemoteSwitch& remote, const BuildConfig& build, QWidget* owner);
    ~AboutWindow() override;

    void setPortLine(const QString& text);

    // Esc does what OK does: the option is saved at once.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    AboutWindow(const BuildConfig& build, QWidget* owner);
    void ok();
    void showPolarity();

    // The switch this window shows: its option, a click on the box, OK.
    std::function<bool()> m_fiveVoltsOn;
    std::function<void(bool)> m_click;
    std::function<void()> m_store;
    QCheckBox* m_sport;
    QLabel* m_port;
};

} // namespace kestra::shell
