#pragma once

#include <QObject>
#include <vector>

class QSocketNotifier;

namespace kestra::shell {

// Every signal that would end the program (SIGTERM, SIGINT, SIGHUP, SIGQUIT,
// SIGUSR1, SIGUSR2, SIGALRM, the real-time signals, ...) arrives here as a Qt
// signal, so that the program ends as File, Exit does instead of leaving the
// relays as they were. The Unix handler only remembers the signal and writes
// its number into a socket pair; the event loop reads it. What is remembered
// stays, so that a signal that came before anyone listened (or while a nested
// loop read the socket) is still acted on. SIGPIPE and SIGXFSZ are ignored: a
// closed reader or a file-size limit is a failing write, said where it fails.
class SignalForwarder : public QObject
{
    Q_OBJECT
public:
    // Installs the Unix handlers; safe to call before the application object exists.
    static void install();
    // The last signal received since install(), 0 when none.
    static int pending();
    // The signals that end the program as SIGTERM does.
    static std::vector<int> endingSignals();

    explicit SignalForwarder(QObject* parent = nullptr);
    ~SignalForwarder() override;

signals:
    void received(int signalNumber);

private:
    void readSignal();
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace kestra::shell
