#pragma once

#include <QObject>

class QSocketNotifier;

namespace kestra::shell {

// SIGTERM, SIGINT and SIGHUP arrive here as a Qt signal. The Unix handler only
// remembers the signal and writes its number into a socket pair; the event loop
// reads it. What is remembered stays, so that a signal that came before anyone
// listened (or while a nested loop read the socket) is still acted on.
class SignalForwarder : public QObject
{
    Q_OBJECT
public:
    // Installs the Unix handlers; safe to call before the application object exists.
    static void install();
    // The last signal received since install(), 0 when none.
    static int pending();

    explicit SignalForwarder(QObject* parent = nullptr);
    ~SignalForwarder() override;

signals:
    void received(int signalNumber);

private:
    void readSignal();
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace kestra::shell
