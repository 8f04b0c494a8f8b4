#pragma once

#include "base/buildconfig.h"
#include "logic/mqtt/settings.h"
#include "logic/schedule/schedule.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <chrono>
#include <memory>

class QThread;

namespace kestra::mqtt {

class Worker;
struct Shared;

// The switch on an MQTT broker. Lives on the main thread and never waits for
// the network there: the setters only note the latest values and wake the
// link's own thread, which owns the client and publishes what changed.
class Link : public QObject
{
    Q_OBJECT
public:
    enum class State {
        Off,
        Connecting,
        Connected,
        Refused,
        BadCredentials,
        NotAuthorised,
        TlsError,
        Unreachable,
        BadSettings // a setting cannot work (Settings::problem): no connection is made
    };

    explicit Link(const BuildConfig& build, QObject* parent = nullptr);
    ~Link() override;

    State state() const { return m_state; }
    // A sentence for the window: connected where, or why not.
    QString stateText() const;
    // A few words for the status line: "MQTT: connected", "MQTT: bad credentials".
    QString shortState() const;
    const Settings& settings() const { return m_settings; }

public slots:
    // Connects, reconnects, disconnects or removes the discovery as the
    // settings say; takes effect at once.
    void apply(const Settings& settings);
    // Bit m-1: output m is ON as driven at the port (after polarity). Call it
    // right after every write of the data register.
    void setOutputs(quint8 onMask);
    void setMode(int output, channels::Mode mode);
    // An invalid time publishes "None".
    void setNext(int output, const QDateTime& at);
    // Published at most once a minute per output, and at every connect.
    void setHours(int output, double hours);
    void setInput(int input, bool on);
    // The output's location text names its entities.
    void setLocation(int output, const QString& text);
    // Publishes what is pending, then "offline", and disconnects; returns after
    // `within` at the latest, done or not. The link stays stopped.
    void stop(std::chrono::milliseconds within);

signals:
    // A valid command from T/output/N/mode/set; of several for one output that
    // arrived while the main thread was busy, only the latest.
    void modeCommand(int output, channels::Mode mode);
    void stateChanged();
    // apply() took settings other than those it had.
    void settingsChanged();

private:
    bool startThread();
    void wake();
    void takeState(State state, const QString& detail);
    void takeCommands();

    BuildConfig m_build;
    Settings m_settings;
    State m_state = State::Off;
    QString m_detail;
    bool m_stopped = false;
    bool m_stopTimedOut = false;
    std::shared_ptr<Shared> m_shared;
    QThread* m_thread = nullptr;
    Worker* m_worker = nullptr;

    friend class Worker;
};

} // namespace kestra::mqtt
