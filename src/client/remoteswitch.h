#pragma once

#include "base/buildconfig.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

class QTcpSocket;

namespace kestra::client {

// One time box of an output as the switch shows it.
struct TimeBox
{
    QString name;                // "time3a"
    QString text;                // what the box shows, converted or not
    std::optional<int> seconds;  // what the text converts to; none when it does not
    bool changed = false;        // an edit not yet written
    bool editing = false;        // being typed in
    bool operator==(const TimeBox&) const = default;
};

// One output of the running switch, decoded from the API's vocabulary.
struct Output
{
    int number = 0;
    QString location, caption;
    std::array<bool, 7> days{};       // the draft, Sunday first
    std::array<bool, 7> finishDays{}; // output 7
    QString mode;                     // AUTO, ON, OFF, or "none"
    std::vector<TimeBox> times;
    bool unsaved = false;
    QString state, cause;             // ON, OFF, calculating; schedule, mode, ...
    std::optional<bool> driven;       // on the port now; none while the byte is not known
    QString nextText, nextToolTip;
    QJsonObject pulse;                // outputs 1 and 2: the pulse as the API gives it
    QJsonObject hours;
    bool operator==(const Output&) const = default;
};

Output decodeOutput(const QJsonObject& o);

// The answer to one command: `status` 200 when it was carried out; else the
// refusal, with the error routine's number and text when the switch refused the
// edit (422), status 0 when no answer came.
struct CommandResult
{
    int status = 0;
    int number = 0;
    QString description, text;
    QByteArray body; // the answer as it came
    bool ok() const { return status == 200; }
};

// The running switch of this build, seen from another process through its API:
// it finds the switch in the endpoint file, follows its event stream on the
// event loop (never a blocking wait), keeps the state it was told and says what
// changed. While no switch answers it tries again, sooner at first and then every
// two seconds; while attached nothing runs but the stream.
class RemoteSwitch : public QObject
{
    Q_OBJECT
public:
    explicit RemoteSwitch(BuildConfig build, QObject* parent = nullptr);
    ~RemoteSwitch() override;

    // Attaches now, and again whenever the switch goes away and comes back.
    void start();
    bool isAttached() const { return m_attached; }
    // Why the last attempt failed or the stream ended; empty while attached.
    const QString& why() const { return m_why; }

    // What the switch said last; empty or default until attached, and kept as it
    // was after a detach (a view must not show it as live then).
    const Output& output(int m) const { return m_outputs.at(m - 1); }
    // When output m was last told, in ms since the epoch on this machine's clock.
    qint64 outputTime(int m) const { return m_outputTimes.at(m - 1); }
    const QJsonObject& inputs() const { return m_inputs; }
    const QJsonObject& port() const { return m_port; }
    const QJsonObject& mqtt() const { return m_mqtt; }
    const QStringList& locations() const { return m_locations; }
    // The calendar: sun, holidays and presence.
    const QJsonObject& calendar() const { return m_calendar; }
    const QString& title() const { return m_title; }
    const QString& version() const { return m_version; }
    // The history file the switch writes.
    const QString& historyFile() const { return m_historyFile; }
    qint64 pid() const { return m_pid; }
    // The lists the time boxes offer, start and run times (empty until the switch told them).
    const QStringList& startTimes() const { return m_startTimes; }
    const QStringList& runTimes() const { return m_runTimes; }

    // Sends one command (see docs/api.md); `done` gets the answer on the event
    // loop. Refused at once (status 0) while not attached.
    void send(const QJsonObject& command, std::function<void(const CommandResult&)> done = {});
    // ... `done` only while `context` still exists: a view closed before the answer came hears nothing.
    void send(const QJsonObject& command, const QObject* context, std::function<void(const CommandResult&)> done);

    // GETs `path` of the API; `done` as for send. Refused at once while not attached.
    void get(const QByteArray& path, const QObject* context, std::function<void(const CommandResult&)> done);
    // Asks for output m as it is now (its hours count on between its events);
    // outputChanged follows when anything changed.
    void refreshOutput(int m);

    // A command's answer as the API gives it.
    static CommandResult result(int status, const QByteArray& body, const QString& error);

signals:
    void attached();
    // The stream ended: the switch ended, died, or could not be reached.
    void detached();
    void outputChanged(int output);
    void inputsChanged();
    void portChanged();
    void mqttChanged();
    void locationsChanged();
    void calendarChanged();
    void presetsChanged();
    // The switch said it is ending.
    void ending();

private:
    void request(const QByteArray& method, const QByteArray& path, const QByteArray& body,
                 std::function<void(const CommandResult&)> done);
    void tryAttach();
    void streamData();
    void streamEnded(const QString& why);
    void event(const QByteArray& name, const QByteArray& data);
    void takeState(const QJsonObject& o);
    void takeOutput(const QJsonObject& o);
    void takeLocations(const QJsonArray& a);
    void askPresets();

    BuildConfig m_build;
    QTcpSocket* m_stream = nullptr;
    QTimer m_retry;
    std::chrono::milliseconds m_backoff{0};
    QByteArray m_buffer;
    bool m_headDone = false;
    bool m_attached = false;
    QString m_why;
    quint16 m_apiPort = 0;
    QByteArray m_token;
    qint64 m_pid = 0;

    std::array<Output, 8> m_outputs;
    std::array<qint64, 8> m_outputTimes{};
    QJsonObject m_inputs, m_port, m_mqtt, m_calendar;
    QStringList m_locations, m_startTimes, m_runTimes;
    QString m_title, m_version, m_historyFile;
};

// True when a switch of this build runs for this user and answers its API with
// the token of its endpoint file. Waits at most `timeout` in a local event loop
// (for the start of a program, before any window).
bool switchAnswers(const BuildConfig& build, std::chrono::milliseconds timeout);

} // namespace kestra::client
