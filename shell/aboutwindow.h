#pragma once

#include "ui/context.h"
#include "ui/errorroutine.h"

#include <QDialog>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace kestra::store {
class DataSource;
}

namespace kestra::shell {

// What About says about the time boxes.
extern const QString kTimeFormsText;

// frmAbout: the program's title and version, and the polarity option `sport`
// that every scan reads. Its OK unloads it; the next scan loads it again.
class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    AboutWindow(const ui::AppContext& ctx, QWidget* owner);
    ~AboutWindow() override;

    // Sets the labels and reads the option from the record.
    void load();
    // Saves the option; the window is not loaded afterwards.
    void unload();
    bool isLoaded() const { return m_loaded; }
    void ensureLoaded();

    // True when 5 V is ON (the box is checked).
    bool fiveVoltsOn() const;
    void setPortLine(const QString& text);

    // Esc does what OK does: the option is saved at once.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void ok();

    ui::AppContext m_ctx;
    std::unique_ptr<store::DataSource> m_data2;
    QCheckBox* m_sport;
    QLineEdit* m_txsport;
    QLabel* m_title;
    QLabel* m_version;
    QLabel* m_port;
    bool m_loaded = false;
};

} // namespace kestra::shell
