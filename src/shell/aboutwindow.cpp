#include "shell/aboutwindow.h"

#include "client/remoteswitch.h"
#include "model/switchmodel.h"
#include "model/teller.h"
#include "views/widgets/naming.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestra::shell {

const QString kTimeFormsText =
    QStringLiteral("Times are typed on the 24-hour clock as hh:mm:ss (07:30:00) or h:mm (7:30 is 07:30:00), "
                   "from 00:00:00 to 23:59:59; a run time is written the same way.");

AboutWindow::AboutWindow(model::SwitchModel& model, QWidget* owner) : AboutWindow(model.build(), owner)
{
    m_fiveVoltsOn = [&model] { return model.fiveVoltsOn(); };
    m_click = [&model](bool checked) { model.clickPolarity(checked); };
    m_store = [&model] { model.aboutOk(); };
    model.aboutErrors().setWindow(this);
    connect(&model, &model::SwitchModel::polarityChanged, this, &AboutWindow::showPolarity);
    showPolarity();
}

AboutWindow::AboutWindow(client::RemoteSwitch& remote, const BuildConfig& build, QWidget* owner)
    : AboutWindow(build, owner)
{
    const auto told = [this, title = build.title](const client::CommandResult& r) {
        if (r.ok()) return;
        model::teller().notice(this, title, r.text);
        showPolarity();
    };
    m_fiveVoltsOn = [&remote] { return remote.port().value(QStringLiteral("fiveVoltsOn")).toBool(); };
    m_click = [this, &remote, told](bool checked) {
        remote.send({{"command", "polarity"}, {"fiveVoltsOn", checked}}, this, told);
    };
    m_store = [this, &remote, told] { remote.send({{"command", "polarityOk"}}, this, told); };
    connect(&remote, &client::RemoteSwitch::portChanged, this, &AboutWindow::showPolarity);
    connect(&remote, &client::RemoteSwitch::attached, this, &AboutWindow::showPolarity);
    showPolarity();
}

AboutWindow::AboutWindow(const BuildConfig& build, QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("ABOUT TIMER"));
    auto* layout = new QVBoxLayout(this);
    auto label = [&](const char* name, const QString& text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setWordWrap(true);
        layout->addWidget(l);
        return l;
    };
    QLabel* title = label("lblTitle", build.title);
    QFont big = title->font();
    big.setPointSize(big.pointSize() + 8);
    big.setBold(true);
    title->setFont(big);
    label("lblVersion", versionText());
    const QString port = build.portText();
    label(
        "lblDescription",
        QStringLiteral("A program that enables the computer to use the printer port %1 to control 8 outputs.")
            .arg(port));
    label("lblDisclaimer",
          QStringLiteral("This program is configured for port %1. Program database loaded into %2")
              .arg(port.rightJustified(4, QLatin1Char('0')), build.databasePath()));
    // Which time forms the time boxes take (the time conversion's own rule).
    label("Label1", kTimeFormsText);
    m_port = label("lblPort", QString());

    m_sport =
        new QCheckBox(QStringLiteral("Check to set output to 5 volts for ON, usually for kits, or uncheck if "
                                     "building own hardware to have 0 volts for ON."),
                      this);
    m_sport->setObjectName(QStringLiteral("sport"));
    m_sport->setToolTip(
        QStringLiteral("When this box is checked ..ON = 5V & OFF = 0V, else ON = 0V & OFF = 5V"));
    ui::nameControl(m_sport, QStringLiteral("Output polarity: 5 volts for ON"));
    layout->addWidget(m_sport);
    connect(m_sport, &QCheckBox::clicked, this, [this](bool checked) { m_click(checked); });

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    ui::nameControl(ok, QStringLiteral("OK"), QStringLiteral("Close and store the polarity option"));
    layout->addWidget(ok, 0, Qt::AlignRight);
    connect(ok, &QPushButton::clicked, this, &AboutWindow::ok);

    setMinimumWidth(460);
}

AboutWindow::~AboutWindow() = default;

void AboutWindow::showPolarity()
{
    m_sport->setChecked(m_fiveVoltsOn());
}

void AboutWindow::setPortLine(const QString& text)
{
    m_port->setText(text);
}

void AboutWindow::ok()
{
    hide();
    setResult(QDialog::Accepted);
    m_store();
    done(QDialog::Accepted);
}

void AboutWindow::reject()
{
    ok();
}

void AboutWindow::closeEvent(QCloseEvent* e)
{
    // The title bar's close box does what OK does.
    e->ignore();
    ok();
}

} // namespace kestra::shell
