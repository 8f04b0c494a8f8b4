#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

namespace kestra::model {
class SwitchModel;
}

namespace kestra::shell {

// Tells systemd how the switch stands, for a unit of Type=notify: READY=1 once
// the start-up has driven the port, WATCHDOG=1 from the scan that drives it (so
// that a scan that stopped gets the program restarted), STOPPING=1 when the end
// begins, and a STATUS= line naming the outputs ON. Without systemd
// (NOTIFY_SOCKET not set) nothing is sent.
class ServiceManager : public QObject
{
    Q_OBJECT
public:
    explicit ServiceManager(model::SwitchModel& model, QObject* parent = nullptr);

    // The start-up is done and the port driven.
    void ready();

private:
    void scanned();
    void stopping();
    QString status() const;

    model::SwitchModel& m_model;
    qint64 m_watchdogMs = 0; // 0: systemd watches nothing
    QElapsedTimer m_sinceWatchdog;
    QString m_status;
    bool m_ready = false;
};

} // namespace kestra::shell
