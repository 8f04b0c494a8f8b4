#pragma once

#include <QObject>

class QSocketNotifier;

namespace kestra::shell {

// SIGTERM, SIGINT and SIGHUP arrive here as a Qt signal. The Unix handler only
// writes the signal number into a socket pair; the event loop reads it.
class SignalForwarder : public QObject
{
    Q_OBJECT
public:
    explicit SignalForwarder(QObject* parent = nullptr);
    ~SignalForwarder() override;

signals:
    void received(int signalNumber);

private:
    void readSignal();
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace kestra::shell
