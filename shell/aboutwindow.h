#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;

namespace kestra::model {
class SwitchModel;
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
    ~AboutWindow() override;

    void setPortLine(const QString& text);

    // Esc does what OK does: the option is saved at once.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void ok();
    void showPolarity();

    model::SwitchModel& m_model;
    QCheckBox* m_sport;
    QLabel* m_port;
};

} // namespace kestra::shell
