#pragma once

#include "logic/mqtt/settings.h"

#include <QDialog>
#include <array>
#include <functional>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSpinBox;
class QStatusBar;

namespace kestra::mqtt {

class Link;
class SettingsSource;

// File, "Home automation (MQTT)...": edits group MQTT of the placement file and
// hands the result to the link, which takes it without a restart; the link of
// this process, or through its source that of the running switch.
class SettingsWindow : public QDialog
{
    Q_OBJECT
public:
    SettingsWindow(SettingsSource& source, QWidget* parent = nullptr);
    // The link of this process, its settings in the placement file of `title`.
    SettingsWindow(Link& link, const QString& title, QWidget* parent = nullptr);

    // Fills the controls from the file, as stored.
    void load();
    // Stores and applies what the controls hold; false, and the reason shown,
    // when it cannot work. A switch elsewhere answers later: `stored` runs
    // once it has stored them.
    bool applyChanges(std::function<void()> stored = {});

private:
    void build();
    Settings fromControls() const;
    void showState();
    // The window's one way of saying why nothing was stored.
    void refuse(const QString& problem);

    SettingsSource& m_source;
    QCheckBox* m_enabled;
    QLineEdit* m_host;
    QSpinBox* m_port;
    QCheckBox* m_tls;
    QLineEdit* m_caFile;
    QLineEdit* m_username;
    QLineEdit* m_password;
    QLineEdit* m_name;
    QLineEdit* m_baseTopic;
    QCheckBox* m_discovery;
    QLineEdit* m_discoveryPrefix;
    struct TargetEdits
    {
        QLineEdit* topic;
        QLineEdit* on;
        QLineEdit* off;
    };
    std::array<TargetEdits, kOutputs> m_targets{};
    QLabel* m_state;
};

// Adds "Home automation (MQTT)..." to `menu`; it opens one window over `parent`, made on first use.
QAction* addSettingsAction(QMenu* menu, SettingsSource& source, QWidget* parent);
// Adds the link's short state ("MQTT: connected") to the right of `bar` (objectName lblMqtt),
// shown while the link is switched on, its sentence as the tool tip.
QLabel* addStatusLabel(QStatusBar* bar, SettingsSource& source);

} // namespace kestra::mqtt
