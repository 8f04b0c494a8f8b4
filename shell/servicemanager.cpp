#include "shell/servicemanager.h"

#include "model/switchmodel.h"

#include <QStringList>
#include <systemd/sd-daemon.h>

namespace kestra::shell {

namespace {
void notify(const QString& state)
{
    // unset_environment 0: a failure here changes nothing for the switch.
    sd_notify(0, state.toUtf8().constData());
}
} // namespace

ServiceManager::ServiceManager(model::SwitchModel& model, QObject* parent) : QObject(parent), m_model(model)
{
    uint64_t usec = 0;
    // Four times within the period systemd gives, so that a late scan or two never counts as stuck.
    if (sd_watchdog_enabled(0, &usec) > 0) m_watchdogMs = std::max<qint64>(qint64(usec / 4000), 1);
    connect(&model, &model::SwitchModel::scanDone, this, &ServiceManager::scanned);
    connect(&model, &model::SwitchModel::aboutToUnload, this, &ServiceManager::stopping);
}

void ServiceManager::ready()
{
    if (m_ready || m_model.isUnloaded()) return;
    m_ready = true;
    m_status = status();
    m_sinceWatchdog.start();
    notify(QStringLiteral("READY=1\nSTATUS=") + m_status);
}

void ServiceManager::scanned()
{
    if (!m_ready) return;
    QStringList lines;
    if (m_watchdogMs > 0 && m_sinceWatchdog.elapsed() >= m_watchdogMs) {
        m_sinceWatchdog.start();
        lines << QStringLiteral("WATCHDOG=1");
    }
    if (const QString now = status(); now != m_status) {
        m_status = now;
        lines << QStringLiteral("STATUS=") + now;
    }
    if (!lines.isEmpty()) notify(lines.join(QLatin1Char('\n')));
}

void ServiceManager::stopping()
{
    if (!m_ready) return;
    m_ready = false;
    notify(QStringLiteral("STOPPING=1\nSTATUS=Stopping: every output is switched OFF"));
}

QString ServiceManager::status() const
{
    QStringList on;
    bool known = true;
    for (int m = 1; m <= 8; ++m) {
        const std::optional<bool> driven = m_model.drivenOn(m);
        known = known && driven.has_value();
        if (driven.value_or(false)) on << QString::number(m);
    }
    if (!known) return QStringLiteral("Outputs not known: the port cannot be written");
    return on.isEmpty() ? QStringLiteral("Every output OFF")
                        : QStringLiteral("Outputs ON: ") + on.join(QStringLiteral(", "));
}

} // namespace kestra::shell
