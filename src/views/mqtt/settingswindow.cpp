#include "views/mqtt/settingswindow.h"

#include "views/mqtt/settingssource.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QVBoxLayout>
#include <memory>

namespace kestra::mqtt {

namespace {
QLineEdit* edit(QWidget* parent, const QString& name)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    return e;
}
} // namespace

SettingsWindow::SettingsWindow(Link& link, const QString& title, QWidget* parent)
    : SettingsWindow(*new LocalSettings(link, title, nullptr), parent)
{
    m_source.setParent(this);
}

SettingsWindow::SettingsWindow(SettingsSource& source, QWidget* parent) : QDialog(parent), m_source(source)
{
    build();
    load();
}

void SettingsWindow::build()
{
    setObjectName(QStringLiteral("frmMqtt"));
    setWindowTitle(QStringLiteral("Home automation (MQTT)"));

    m_enabled = new QCheckBox(QStringLiteral("Connect to an MQTT broker"), this);
    m_enabled->setObjectName(QStringLiteral("chkEnabled"));
    m_host = edit(this, QStringLiteral("txtHost"));
    m_port = new QSpinBox(this);
    m_port->setObjectName(QStringLiteral("spnPort"));
    m_port->setRange(1, 65535);
    m_tls = new QCheckBox(QStringLiteral("TLS (the broker's certificate and host name are checked)"), this);
    m_tls->setObjectName(QStringLiteral("chkTls"));
    m_caFile = edit(this, QStringLiteral("txtCaFile"));
    m_caFile->setPlaceholderText(QStringLiteral("the system's certificate authorities"));
    m_username = edit(this, QStringLiteral("txtUsername"));
    m_password = edit(this, QStringLiteral("txtPassword"));
    m_password->setEchoMode(QLineEdit::Password);
    m_name = edit(this, QStringLiteral("txtName"));
    m_baseTopic = edit(this, QStringLiteral("txtBaseTopic"));
    m_discovery = new QCheckBox(QStringLiteral("Home Assistant discovery"), this);
    m_discovery->setObjectName(QStringLiteral("chkDiscovery"));
    m_discoveryPrefix = edit(this, QStringLiteral("txtDiscoveryPrefix"));

    auto* broker = new QFormLayout;
    broker->addRow(m_enabled);
    broker->addRow(QStringLiteral("Host:"), m_host);
    broker->addRow(QStringLiteral("Port:"), m_port);
    broker->addRow(m_tls);
    broker->addRow(QStringLiteral("CA file:"), m_caFile);
    broker->addRow(QStringLiteral("User name:"), m_username);
    broker->addRow(QStringLiteral("Password:"), m_password);
    broker->addRow(QStringLiteral("Name:"), m_name);
    broker->addRow(QStringLiteral("Base topic:"), m_baseTopic);
    broker->addRow(m_discovery);
    broker->addRow(QStringLiteral("Discovery prefix:"), m_discoveryPrefix);

    auto* targets =
        new QGroupBox(QStringLiteral("Outputs driving other devices (command topic, ON and OFF payloads)"));
    auto* grid = new QGridLayout(targets);
    for (int m = 1; m <= kOutputs; ++m) {
        TargetEdits& t = m_targets[m - 1];
        t.topic = edit(targets, QStringLiteral("txtOutput%1Topic").arg(m));
        t.topic->setPlaceholderText(QStringLiteral("e.g. cmnd/porch/POWER"));
        t.on = edit(targets, QStringLiteral("txtOutput%1On").arg(m));
        t.off = edit(targets, QStringLiteral("txtOutput%1Off").arg(m));
        t.on->setMaximumWidth(70);
        t.off->setMaximumWidth(70);
        grid->addWidget(new QLabel(QStringLiteral("Output %1").arg(m), targets), m - 1, 0);
        grid->addWidget(t.topic, m - 1, 1);
        grid->addWidget(t.on, m - 1, 2);
        grid->addWidget(t.off, m - 1, 3);
    }

    m_state = new QLabel(this);
    m_state->setObjectName(QStringLiteral("lblState"));
    m_state->setWordWrap(true);

    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Apply | QDialogButtonBox::Cancel);
    buttons->setObjectName(QStringLiteral("buttons"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Apply)->setObjectName(QStringLiteral("Apply"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { applyChanges([this] { accept(); }); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            [this] { applyChanges(); });

    // The usual port follows TLS unless another one was chosen.
    connect(m_tls, &QCheckBox::toggled, this, [this](bool tls) {
        if (m_port->value() == (tls ? Settings::kPlainPort : Settings::kTlsPort))
            m_port->setValue(tls ? Settings::kTlsPort : Settings::kPlainPort);
    });
    connect(&m_source, &SettingsSource::stateChanged, this, &SettingsWindow::showState);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(broker);
    layout->addWidget(targets);
    layout->addWidget(m_state);
    layout->addWidget(buttons);
}

void SettingsWindow::load()
{
    const Settings s = m_source.stored();
    m_enabled->setChecked(s.enabled);
    m_host->setText(s.host);
    m_tls->setChecked(s.tls);
    m_port->setValue(s.port);
    m_caFile->setText(s.caFile);
    m_username->setText(s.username);
    // A switch elsewhere never tells its password: the box stays empty, and
    // only what is typed into it replaces the stored one.
    m_password->setText(m_source.showsPassword() ? s.password : QString());
    m_password->setPlaceholderText(!m_source.showsPassword() && m_source.passwordSet()
                                       ? QStringLiteral("stored, not shown: type to replace it")
                                       : QString());
    m_password->setModified(false);
    m_name->setText(s.name);
    m_baseTopic->setText(s.baseTopic);
    m_discovery->setChecked(s.discovery);
    m_discoveryPrefix->setText(s.discoveryPrefix);
    for (int i = 0; i < kOutputs; ++i) {
        m_targets[i].topic->setText(s.outputs[i].topic);
        m_targets[i].on->setText(s.outputs[i].on);
        m_targets[i].off->setText(s.outputs[i].off);
    }
    showState();
}

Settings SettingsWindow::fromControls() const
{
    Settings s;
    s.enabled = m_enabled->isChecked();
    s.host = m_host->text();
    s.port = m_port->value();
    s.tls = m_tls->isChecked();
    s.caFile = m_caFile->text();
    s.username = m_username->text();
    s.password = m_password->text();
    s.name = m_name->text();
    s.baseTopic = m_baseTopic->text();
    s.discovery = m_discovery->isChecked();
    s.discoveryPrefix = m_discoveryPrefix->text();
    for (int i = 0; i < kOutputs; ++i)
        s.outputs[i] = {m_targets[i].topic->text(), m_targets[i].on->text(), m_targets[i].off->text()};
    return takeTyped(s, m_source.defaultName());
}

bool SettingsWindow::applyChanges(std::function<void()> stored)
{
    const Settings s = fromControls();
    if (!s.problem.isEmpty()) {
        // Neither stored nor used: the link goes on with what it had.
        refuse(s.problem);
        return false;
    }
    std::optional<QString> password;
    if (m_source.showsPassword() || m_password->isModified()) password = s.password;
    auto refused = std::make_shared<bool>(false);
    QPointer<SettingsWindow> self(this);
    m_source.store(s, password, [self, s, stored, refused](const QString& refusal) {
        if (!self) return;
        if (!refusal.isEmpty()) {
            *refused = true;
            self->refuse(refusal);
            return;
        }
        // Shows what was taken: a sanitised name, topics without the slashes around them.
        self->m_name->setText(s.name);
        self->m_baseTopic->setText(s.baseTopic);
        self->m_discoveryPrefix->setText(s.discoveryPrefix);
        if (stored) stored();
    });
    return !*refused;
}

void SettingsWindow::refuse(const QString& problem)
{
    m_state->setText(notSavedText(problem));
}

void SettingsWindow::showState()
{
    m_state->setText(m_source.stateText());
}

QAction* addSettingsAction(QMenu* menu, SettingsSource& source, QWidget* parent)
{
    QAction* action = menu->addAction(QStringLiteral("Home automation (MQTT)..."));
    action->setObjectName(QStringLiteral("mnuMqtt"));
    auto window = std::make_shared<QPointer<SettingsWindow>>();
    QObject::connect(action, &QAction::triggered, menu, [parent, &source, window] {
        if (!*window)
            *window = new SettingsWindow(source, parent);
        else
            (*window)->load();
        (*window)->show();
        (*window)->raise();
        (*window)->activateWindow();
    });
    return action;
}

QLabel* addStatusLabel(QStatusBar* bar, SettingsSource& source)
{
    auto* label = new QLabel(bar);
    label->setObjectName(QStringLiteral("lblMqtt"));
    const auto show = [label, &source] {
        label->setText(source.shortState());
        label->setToolTip(source.stateText());
        label->setVisible(source.stateShown());
    };
    bar->addPermanentWidget(label);
    show();
    QObject::connect(&source, &SettingsSource::stateChanged, label, show);
    return label;
}

} // namespace kestra::mqtt
