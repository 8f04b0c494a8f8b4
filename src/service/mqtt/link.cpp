#include "service/mqtt/link.h"

#include "base/diagnostics.h"
#include "base/filehandles.h"
#include "logic/mqtt/messages.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <fcntl.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <mutex>
#include <optional>
#include <sched.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kestra::mqtt {

using namespace std::chrono_literals;
using channels::Mode;
using State = Link::State;

namespace {
constexpr int kKeepaliveSeconds = 30;
constexpr auto kFirstRetry = 1s;
constexpr auto kLastRetry = 60s;
// A broker that turned the credentials away is not asked again sooner.
constexpr auto kCredentialsRetry = 60s;
constexpr auto kHoursPeriod = 60s;
// Home Assistant asks for discovery when it starts; the delay spreads the answers of many devices.
constexpr auto kBirthDelayMin = 1000ms;
constexpr auto kBirthDelayMax = 5000ms;
// An attempt that has not been answered by then is given up (libmosquitto
// ends its loop silently on some TLS failures).
constexpr auto kConnectTimeout = std::chrono::seconds(2 * kKeepaliveSeconds);
// How long new settings wait for the old connection's last messages.
constexpr auto kFarewellOnApply = 2000ms;
// A connection that lasted this long was a good one: the back-off starts again
// at its first step. One dropped sooner (another client with the same client
// id, a broker that takes and drops) goes on growing it.
constexpr auto kStableConnection = 60s;
// A connection dropped this soon after it was made is likely taken over by a
// client with the same client id (MQTT 3.1.1 does not say so).
constexpr auto kTakenOverWithin = 5s;
// Another client's value on one of this device's topics is put back at once,
// then at most once per this interval per topic (two switches with one Name
// would otherwise correct each other without end).
constexpr auto kCorrectionSpacing = 5s;
// Lines about another client's publications, at most one per this interval.
constexpr auto kForeignNoteSpacing = 60s;
// Free file handles the link's thread and connection want: the thread's
// wake-up, the socket, libmosquitto's wake-up pair, a name lookup's files.
constexpr int kHandlesNeeded = 8;

void say(const QString& title, const QString& text)
{
    // Never waits: this runs on the link's thread as well.
    diagnostics().say(QStringLiteral("%1: MQTT: %2").arg(title, text));
}

QString describe(State state, const QString& detail, const Settings& s)
{
    const QString where = QStringLiteral("%1:%2").arg(s.host).arg(s.port);
    switch (state) {
    case State::Off:
        return QStringLiteral("The link to an MQTT broker is switched off.");
    case State::Connecting:
        return QStringLiteral("Connecting to the broker at %1.").arg(where);
    case State::Connected:
        return QStringLiteral("Connected to the broker at %1 as %2.").arg(where, s.name);
    case State::Refused:
        return QStringLiteral("The broker at %1 refused the connection (%2). Trying again.")
            .arg(where, detail);
    case State::BadCredentials:
        return QStringLiteral(
                   "The broker at %1 refused the user name or password. Trying again once a minute.")
            .arg(where);
    case State::NotAuthorised:
        return QStringLiteral(
                   "The broker at %1 did not let this client in: the user name or password is wrong or "
                   "missing, or the user may not connect. Trying again once a minute.")
            .arg(where);
    case State::TlsError:
        return QStringLiteral("The TLS connection to %1 failed (%2). Trying again.").arg(where, detail);
    case State::Unreachable:
        return QStringLiteral("The broker at %1 cannot be reached (%2). Trying again.").arg(where, detail);
    case State::BadSettings:
        return QStringLiteral(
                   "The MQTT settings cannot be used: %1. Nothing is sent to a broker until they are "
                   "mended.")
            .arg(detail);
    }
    return {};
}

// A disconnect's code: libmosquitto's error, or the reason of an MQTT 5 broker.
QString reasonText(int rc)
{
    return QString::fromUtf8(rc >= MQTT_RC_UNSPECIFIED ? mosquitto_reason_string(rc)
                                                       : mosquitto_strerror(rc));
}

bool isCredentialsRefusal(int rc)
{
    return rc == 4 || rc == 5 || rc == MQTT_RC_BAD_USERNAME_OR_PASSWORD || rc == MQTT_RC_NOT_AUTHORIZED;
}
} // namespace

// The latest values the shell gave; what the worker publishes from.
struct Values
{
    std::optional<quint8> outputs;
    std::array<std::optional<Mode>, kOutputs> modes;
    std::array<std::optional<QDateTime>, kOutputs> next;
    std::array<std::optional<double>, kOutputs> hours;
    std::array<std::optional<bool>, kInputs> inputs;
    std::array<QString, kOutputs> locations;
};

struct Shared
{
    std::mutex mutex;
    Values values;
    bool wakePosted = false; // one wake-up covers any number of changes
    // Commands received and not yet handed to the main thread: the latest per
    // output, so that a storm of them is one event there, not thousands.
    std::array<std::optional<Mode>, kOutputs> commands;
    bool commandsPosted = false;
};

// Owns the client on the link's thread. libmosquitto's network thread
// (mosquitto_loop_start) does the socket work; its callbacks only post here.
// Reconnecting is done here, not by the library, so that the delay can follow
// the reason (a minute after refused credentials) and a failed TLS handshake
// is retried too.
class Worker : public QObject
{
    Q_OBJECT
public:
    Worker(BuildConfig build, std::shared_ptr<Shared> shared)
        : m_build(std::move(build)), m_shared(std::move(shared))
    {
        m_retry.setSingleShot(true);
        m_hours.setSingleShot(true);
        m_birth.setSingleShot(true);
        m_answer.setSingleShot(true);
        connect(&m_retry, &QTimer::timeout, this, &Worker::attempt);
        connect(&m_answer, &QTimer::timeout, this,
                [this] { abandon(State::Unreachable, QStringLiteral("no answer from the broker")); });
        connect(&m_hours, &QTimer::timeout, this, &Worker::sync);
        m_correct.setSingleShot(true);
        connect(&m_correct, &QTimer::timeout, this, &Worker::correctLater);
        connect(&m_birth, &QTimer::timeout, this, [this] {
            m_sent.remove(discoveryTopic(m_settings));
            sync();
        });
    }
    ~Worker() override { close(false); }

    void apply(const Settings& s, const Announced& record);
    void sync();
    void stop(QDeadlineTimer deadline)
    {
        m_stopped = true;
        close(true, deadline);
    }

signals:
    void reported(int state, const QString& detail);
    // What this connection announced, for the next start to know.
    void announced(const QString& discoveryTopic, const QString& availabilityTopic);
    // Commands wait in Shared::commands.
    void commandsWaiting();

private:
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto* mosq, void* self, int rc);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* msg);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    void attempt();
    void connected(quint64 generation, int rc);
    void disconnected(quint64 generation, int rc);
    void failed(quint64 generation, const QString& error);
    void abandon(State state, const QString& detail);
    void received(quint64 generation, const QString& topic, const QByteArray& payload, bool retained);
    void close(bool farewell, QDeadlineTimer deadline = QDeadlineTimer());
    bool waitForAcknowledgements(QDeadlineTimer deadline);
    bool createClient();
    std::chrono::seconds backoff();
    void send(const QString& topic, const QByteArray& payload, bool retain);
    void sendHours(int output, const std::optional<double>& hours);
    // `options`: MQTT 5 subscription options besides those every subscription has.
    void subscribe(const QString& topic, int options = 0);
    // Another client's payload on one of this device's topics: ours again.
    void correct(const QString& topic, const QByteArray& payload, bool retained);
    void correctLater();
    void removeOldDevice();
    void report(State state, const QString& detail = QString());

    BuildConfig m_build;
    std::shared_ptr<Shared> m_shared;
    Settings m_settings;
    mosquitto* m_client = nullptr;
    // Bumped whenever a connection ends, so that what its callbacks posted late is dropped.
    std::atomic<quint64> m_generation{0};
    bool m_loopRunning = false;
    bool m_connected = false;
    bool m_stopped = false;
    int m_refusal = 0; // CONNACK code of the attempt under way
    int m_failures = 0;
    // MQTT 5 until the broker turns it away; then 3.1.1 for these settings.
    bool m_v5 = true;
    bool m_fallBack = false; // the attempt under way ends in a retry with 3.1.1
    QElapsedTimer m_connectedAt;
    bool m_takenOver = false; // connections keep ending soon after they were made
    Announced m_announced;
    bool m_announcedTaken = false;
    // When each topic was last put back, and those waiting for their spacing.
    QHash<QString, QElapsedTimer> m_correctedAt;
    QSet<QString> m_correctLater;
    QTimer m_correct{this};
    QElapsedTimer m_foreignNoted;
    int m_foreignUnsaid = 0;
    State m_state = State::Off;
    QString m_detail;
    Values m_values;
    // What went out on this connection, by topic: only changes are sent.
    QHash<QString, QByteArray> m_sent;
    std::array<QElapsedTimer, kOutputs> m_hoursSentAt;
    QSet<QString> m_badTopics;
    QByteArray m_discovery; // the payload for m_discoveryLocations and the settings
    std::array<QString, kOutputs> m_discoveryLocations;
    // QoS 1 messages sent and acknowledged by the broker on this connection.
    std::mutex m_ackMutex;
    std::condition_variable m_ackChanged;
    qint64 m_published = 0;
    qint64 m_acknowledged = 0;
    QTimer m_retry{this};
    QTimer m_hours{this};
    QTimer m_birth{this};
    QTimer m_answer{this};
    // The library's first error message of an attempt: it says more than its return codes.
    std::mutex m_errorMutex;
    QString m_firstError;
};

void Worker::onConnect(mosquitto*, void* self, int rc)
{
    auto* w = static_cast<Worker*>(self);
    const quint64 g = w->m_generation.load();
    QMetaObject::invokeMethod(
        w, [w, g, rc] { w->connected(g, rc); }, Qt::QueuedConnection);
}

void Worker::onDisconnect(mosquitto* mosq, void* self, int rc)
{
    // Stops the library's loop from reconnecting on its own.
    mosquitto_disconnect(mosq);
    auto* w = static_cast<Worker*>(self);
    const quint64 g = w->m_generation.load();
    QMetaObject::invokeMethod(
        w, [w, g, rc] { w->disconnected(g, rc); }, Qt::QueuedConnection);
}

void Worker::onMessage(mosquitto*, void* self, const mosquitto_message* msg)
{
    auto* w = static_cast<Worker*>(self);
    const quint64 g = w->m_generation.load();
    const QString topic = QString::fromUtf8(msg->topic);
    const QByteArray payload(static_cast<const char*>(msg->payload), msg->payloadlen);
    const bool retained = msg->retain;
    QMetaObject::invokeMethod(
        w, [w, g, topic, payload, retained] { w->received(g, topic, payload, retained); },
        Qt::QueuedConnection);
}

void Worker::onLog(mosquitto*, void* self, int level, const char* text)
{
    if (level != MOSQ_LOG_ERR) return;
    auto* w = static_cast<Worker*>(self);
    const quint64 g = w->m_generation.load();
    QString error = QString::fromUtf8(text);
    // "Error: host name verification failed.", "OpenSSL Error[0]: error:0A000086:SSL routines::certificate
    // verify failed"
    error = error.mid(error.lastIndexOf(QLatin1Char(':')) + 1).trimmed();
    if (error.endsWith(QLatin1Char('.'))) error.chop(1);
    {
        std::lock_guard lock(w->m_errorMutex);
        if (w->m_firstError.isEmpty()) w->m_firstError = error;
    }
    QMetaObject::invokeMethod(
        w, [w, g, error] { w->failed(g, error); }, Qt::QueuedConnection);
}

void Worker::onPublish(mosquitto*, void* self, int)
{
    auto* w = static_cast<Worker*>(self);
    {
        std::lock_guard lock(w->m_ackMutex);
        ++w->m_acknowledged;
    }
    w->m_ackChanged.notify_all();
}

bool Worker::waitForAcknowledgements(QDeadlineTimer deadline)
{
    std::unique_lock lock(m_ackMutex);
    return m_ackChanged.wait_for(lock, std::chrono::milliseconds(deadline.remainingTime()),
                                 [this] { return m_acknowledged >= m_published; });
}

void Worker::report(State state, const QString& detail)
{
    const bool news = state != m_state || detail != m_detail;
    m_state = state;
    m_detail = detail;
    if (!news) return;
    if (state != State::Off && state != State::Connecting)
        say(m_build.title, describe(state, detail, m_settings));
    emit reported(int(state), detail);
}

std::chrono::seconds Worker::backoff()
{
    const auto delay =
        std::min<std::chrono::seconds>(kLastRetry, kFirstRetry * (1 << std::min(m_failures, 6)));
    ++m_failures;
    return delay;
}

bool Worker::createClient()
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { mosquitto_lib_init(); });
    const QByteArray id = m_settings.name.toUtf8();
    m_client = mosquitto_new(id.constData(), true, this);
    if (!m_client) return false;
    mosquitto_connect_callback_set(m_client, &Worker::onConnect);
    mosquitto_disconnect_callback_set(m_client, &Worker::onDisconnect);
    mosquitto_message_callback_set(m_client, &Worker::onMessage);
    mosquitto_publish_callback_set(m_client, &Worker::onPublish);
    mosquitto_log_callback_set(m_client, &Worker::onLog);
    // The OFF states and "offline" of a clean stop must not wait behind a quota.
    mosquitto_max_inflight_messages_set(m_client, 0);
    // A state right after another small message (the mode of a command) must
    // not wait for the broker's delayed TCP acknowledgement: 40 ms on Linux.
    mosquitto_int_option(m_client, MOSQ_OPT_TCP_NODELAY, 1);
    const QByteArray will = availabilityTopic(m_settings).toUtf8();
    mosquitto_will_set(m_client, will.constData(), 7, "offline", 1, true);
    if (!m_settings.username.isEmpty()) {
        const QByteArray user = m_settings.username.toUtf8(), password = m_settings.password.toUtf8();
        mosquitto_username_pw_set(m_client, user.constData(),
                                  password.isEmpty() ? nullptr : password.constData());
    }
    if (m_settings.tls) {
        // Host name verified, no insecure mode: the library checks both by default.
        const QByteArray ca = m_settings.caFile.toLocal8Bit();
        mosquitto_int_option(m_client, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        const int rc = ca.isEmpty()
                           ? mosquitto_tls_set(m_client, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                           : mosquitto_tls_set(m_client, ca.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            report(State::TlsError,
                   ca.isEmpty() || QFileInfo(m_settings.caFile).isReadable()
                       ? QString::fromUtf8(mosquitto_strerror(rc))
                       : QStringLiteral("cannot read the CA file %1").arg(m_settings.caFile));
            mosquitto_destroy(m_client);
            m_client = nullptr;
            return false;
        }
    }
    return true;
}

void Worker::attempt()
{
    m_retry.stop();
    if (!m_settings.enabled || m_stopped || m_loopRunning) return;
    if (!m_client && !createClient()) {
        m_retry.start(backoff());
        return;
    }
    m_refusal = 0;
    m_fallBack = false;
    {
        std::lock_guard lock(m_errorMutex);
        m_firstError.clear();
    }
    // MQTT 5 keeps the retain flag of what is delivered while connected
    // (retain as published), so a retained command is known as one then too.
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, m_v5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    const QByteArray host = m_settings.host.toUtf8();
    // The TCP connect blocks this thread, never the caller's. With TLS, the
    // asynchronous connect of libmosquitto 2.0.11 spins on a refused port.
    int rc = mosquitto_connect(m_client, host.constData(), m_settings.port, kKeepaliveSeconds);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_start(m_client);
    if (rc != MOSQ_ERR_SUCCESS) {
        std::unique_lock lock(m_errorMutex);
        const QString why = m_firstError.isEmpty() ? QString::fromUtf8(mosquitto_strerror(rc)) : m_firstError;
        lock.unlock();
        report(rc == MOSQ_ERR_TLS ? State::TlsError : State::Unreachable, why);
        m_retry.start(backoff());
        return;
    }
    m_loopRunning = true;
    m_answer.start(kConnectTimeout);
}

void Worker::failed(quint64 generation, const QString& error)
{
    // Errors before the broker answered end the attempt, and some of them end
    // the library's loop without a callback.
    if (generation != m_generation || !m_loopRunning || m_connected || m_refusal) return;
    abandon(m_settings.tls ? State::TlsError : State::Unreachable, error);
}

void Worker::abandon(State state, const QString& detail)
{
    if (!m_loopRunning || m_connected) return;
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, false);
    m_loopRunning = false;
    ++m_generation;
    report(state, detail);
    m_retry.start(backoff());
}

void Worker::connected(quint64 generation, int rc)
{
    if (generation != m_generation || !m_loopRunning) return;
    m_answer.stop();
    if (rc != 0) {
        // The disconnect that follows schedules the next attempt.
        m_refusal = rc;
        if (m_v5 && (rc == 1 || rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION)) {
            m_fallBack = true;
            return;
        }
        report(rc == 4 || rc == MQTT_RC_BAD_USERNAME_OR_PASSWORD ? State::BadCredentials
               : rc == 5 || rc == MQTT_RC_NOT_AUTHORIZED         ? State::NotAuthorised
                                                                 : State::Refused,
               QString::fromUtf8(m_v5 ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc)));
        return;
    }
    m_connected = true;
    m_connectedAt.start();
    m_sent.clear();
    m_correctedAt.clear();
    m_correctLater.clear();
    {
        std::lock_guard lock(m_ackMutex);
        m_published = m_acknowledged = 0;
    }
    // Commands, and this device's own topics: what another client publishes
    // there is put right. Under MQTT 5 without what is retained there: the
    // states of the last run, replaced by this connect's in a moment, and
    // retained commands, which never act.
    subscribe(m_settings.root() + QStringLiteral("/#"), MQTT_SUB_OPT_SEND_RETAIN_NEVER);
    if (m_settings.discovery) subscribe(birthTopic(m_settings));
    removeOldDevice();
    // Every state first, so that Home Assistant has them when the device comes online.
    sync();
    send(availabilityTopic(m_settings), QByteArrayLiteral("online"), true);
    const Announced now{true, m_settings.discovery ? discoveryTopic(m_settings) : QString(),
                        availabilityTopic(m_settings)};
    if (!(now == m_announced)) {
        m_announced = now;
        emit announced(now.discoveryTopic, now.availabilityTopic);
    }
    report(State::Connected);
}

void Worker::removeOldDevice()
{
    const QString discovery = m_settings.discovery ? discoveryTopic(m_settings) : QString();
    if (!m_announced.known) {
        // An earlier version connected (or none): with discovery off, a device
        // it announced may still be there, under the same topic.
        if (discovery.isEmpty()) send(discoveryTopic(m_settings), QByteArray(), true);
        return;
    }
    // Once, at the first connect after the change; the record says so from then on.
    if (!m_announced.discoveryTopic.isEmpty() && m_announced.discoveryTopic != discovery)
        send(m_announced.discoveryTopic, QByteArray(), true);
    if (!m_announced.availabilityTopic.isEmpty() &&
        m_announced.availabilityTopic != availabilityTopic(m_settings))
        send(m_announced.availabilityTopic, QByteArray(), true);
}

void Worker::subscribe(const QString& topic, int options)
{
    const QByteArray t = topic.toUtf8();
    // Not this client's own messages; the retain flag as the publisher set it.
    options |= MQTT_SUB_OPT_NO_LOCAL | MQTT_SUB_OPT_RETAIN_AS_PUBLISHED;
    const int rc = m_v5 ? mosquitto_subscribe_v5(m_client, nullptr, t.constData(), 1, options, nullptr)
                        : mosquitto_subscribe(m_client, nullptr, t.constData(), 1);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST)
        say(m_build.title, QStringLiteral("cannot subscribe to %1: %2").arg(topic, mosquitto_strerror(rc)));
}

void Worker::correct(const QString& topic, const QByteArray& payload, bool retained)
{
    const auto sent = m_sent.constFind(topic);
    // Nothing sent there yet (the next switching not known): nothing to put right.
    if (sent == m_sent.constEnd() || *sent == payload) return;
    // Under MQTT 3.1.1 this client's own messages come back too; one overtaken
    // by a newer value looks foreign, and putting the newer one again is harmless.
    if (m_v5) {
        if (!m_foreignNoted.isValid() ||
            m_foreignNoted.elapsed() >= std::chrono::milliseconds(kForeignNoteSpacing).count()) {
            say(m_build.title,
                QStringLiteral("another client published %1 on %2%3; put back to %4%5")
                    .arg(QString::fromUtf8(payload.left(kMaxCommandBytes)).simplified(), topic,
                         retained ? QStringLiteral(" (retained)") : QString(), QString::fromUtf8(*sent),
                         m_foreignUnsaid
                             ? QStringLiteral(" (and %1 more since the last line)").arg(m_foreignUnsaid)
                             : QString()));
            m_foreignNoted.start();
            m_foreignUnsaid = 0;
        } else {
            ++m_foreignUnsaid;
        }
    }
    QElapsedTimer& at = m_correctedAt[topic];
    const qint64 spacing = std::chrono::milliseconds(kCorrectionSpacing).count();
    if (at.isValid() && at.elapsed() < spacing) {
        m_correctLater.insert(topic);
        if (!m_correct.isActive()) m_correct.start(int(spacing - at.elapsed()));
        return;
    }
    at.start();
    const QByteArray truth = *sent;
    m_sent.remove(topic);
    send(topic, truth, true);
}

void Worker::correctLater()
{
    const QSet<QString> topics = std::exchange(m_correctLater, {});
    if (!m_connected) return;
    for (const QString& topic : topics) {
        const auto sent = m_sent.constFind(topic);
        if (sent == m_sent.constEnd()) continue;
        m_correctedAt[topic].start();
        const QByteArray truth = *sent;
        m_sent.remove(topic);
        send(topic, truth, true);
    }
}

void Worker::disconnected(quint64 generation, int rc)
{
    if (generation != m_generation || !m_loopRunning) return;
    mosquitto_loop_stop(m_client, false);
    m_loopRunning = false;
    ++m_generation;
    const bool wasConnected = m_connected;
    m_connected = false;
    m_birth.stop();
    m_answer.stop();
    m_correct.stop();
    // A broker of MQTT 3.1.1 only may also answer a CONNECT of version 5 with
    // a packet the library cannot read.
    if (m_v5 && !wasConnected && !m_refusal && (rc == MOSQ_ERR_PROTOCOL || rc == MOSQ_ERR_MALFORMED_PACKET))
        m_fallBack = true;
    if (m_fallBack) {
        m_v5 = false;
        say(m_build.title,
            QStringLiteral("the broker at %1:%2 does not take MQTT 5; connecting with MQTT 3.1.1, where a "
                           "retained command published while connected cannot be told from a live one")
                .arg(m_settings.host)
                .arg(m_settings.port));
        m_retry.start(0);
        return;
    }
    if (isCredentialsRefusal(m_refusal)) {
        m_retry.start(kCredentialsRetry);
        return;
    }
    const qint64 lasted = wasConnected ? m_connectedAt.elapsed() : 0;
    const bool stable = lasted >= std::chrono::milliseconds(kStableConnection).count();
    if (wasConnected && stable) {
        m_failures = 0;
        m_takenOver = false;
    }
    if (m_refusal == 0) {
        // mosquitto closes the connection it hands to another client with the
        // same id without a word; one closed at once is taken for that, and
        // the next ones closed before they lasted a minute as well.
        m_takenOver =
            m_takenOver ||
            (wasConnected &&
             (rc == MQTT_RC_SESSION_TAKEN_OVER ||
              (rc == MOSQ_ERR_CONN_LOST && lasted < std::chrono::milliseconds(kTakenOverWithin).count())));
        const bool takenOver = wasConnected && !stable && m_takenOver;
        if (takenOver) {
            report(State::Refused,
                   rc == MQTT_RC_SESSION_TAKEN_OVER
                       ? QStringLiteral("another client connected with the same client id, %1; give each "
                                        "switch a Name of its own")
                             .arg(m_settings.name)
                       : QStringLiteral("it keeps closing the connection soon after it was made; another "
                                        "client may use the same client id, %1")
                             .arg(m_settings.name));
        } else {
            const QString why = rc == MOSQ_ERR_KEEPALIVE ? QStringLiteral("no answer from the broker")
                                : wasConnected ? QStringLiteral("connection lost: %1").arg(reasonText(rc))
                                               : reasonText(rc);
            report(rc == MOSQ_ERR_TLS ? State::TlsError : State::Unreachable, why);
        }
    }
    m_retry.start(backoff());
}

void Worker::received(quint64 generation, const QString& topic, const QByteArray& payload, bool retained)
{
    if (generation != m_generation || !m_connected) return;
    const Received r = classify(m_settings, topic, payload, retained);
    switch (r.kind) {
    case Received::Kind::Command: {
        std::lock_guard lock(m_shared->mutex);
        m_shared->commands[r.output - 1] = r.mode;
        if (!m_shared->commandsPosted) {
            m_shared->commandsPosted = true;
            emit commandsWaiting();
        }
        break;
    }
    case Received::Kind::Birth:
        m_birth.start(std::chrono::milliseconds(QRandomGenerator::global()->bounded(
            int(kBirthDelayMin.count()), int(kBirthDelayMax.count()) + 1)));
        break;
    case Received::Kind::Own:
        correct(topic, payload, retained);
        break;
    case Received::Kind::Ignored:
        say(m_build.title, QStringLiteral("ignored %1: %2").arg(topic, r.why));
        break;
    }
}

void Worker::send(const QString& topic, const QByteArray& payload, bool retain)
{
    const auto sent = m_sent.constFind(topic);
    if (sent != m_sent.constEnd() && *sent == payload) return;
    const QByteArray t = topic.toUtf8();
    const int rc = mosquitto_publish(m_client, nullptr, t.constData(), int(payload.size()),
                                     payload.constData(), 1, retain);
    if (rc == MOSQ_ERR_SUCCESS) {
        m_sent.insert(topic, payload);
        std::lock_guard lock(m_ackMutex);
        ++m_published;
    } else if (rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST && !m_badTopics.contains(topic)) {
        // A topic the broker cannot take (a wildcard in an output's topic): said once.
        m_badTopics.insert(topic);
        say(m_build.title, QStringLiteral("cannot publish to %1: %2").arg(topic, mosquitto_strerror(rc)));
    }
}

void Worker::sendHours(int output, const std::optional<double>& hours)
{
    if (!hours) return;
    const QString topic = outputTopic(m_settings, output, "hours");
    QElapsedTimer& at = m_hoursSentAt[output - 1];
    const bool sentBefore = m_sent.contains(topic);
    const QByteArray payload = hoursPayload(*hours);
    if (sentBefore && m_sent.value(topic) == payload) return;
    const qint64 period = std::chrono::milliseconds(kHoursPeriod).count();
    if (sentBefore && at.isValid() && at.elapsed() < period) {
        const qint64 left = period - at.elapsed();
        if (!m_hours.isActive() || m_hours.remainingTime() > left) m_hours.start(int(left));
        return;
    }
    send(topic, payload, true);
    at.start();
}

void Worker::sync()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_values = m_shared->values;
        m_shared->wakePosted = false;
    }
    if (!m_connected) return;
    const Values& v = m_values;
    if (m_settings.discovery) {
        // Made again only when a location changed, not at every port write.
        if (m_discovery.isEmpty() || v.locations != m_discoveryLocations) {
            m_discoveryLocations = v.locations;
            m_discovery = discoveryPayload(m_settings, m_build.title.toLower(), versionNumber(), v.locations);
        }
        send(discoveryTopic(m_settings), m_discovery, true);
    }
    for (int m = 1; m <= kOutputs; ++m) {
        const int i = m - 1;
        if (v.outputs) {
            const bool on = (*v.outputs >> i) & 1;
            send(outputTopic(m_settings, m, "state"), onOffPayload(on), true);
            const OutputTarget& target = m_settings.outputs[i];
            if (!target.topic.isEmpty()) send(target.topic, (on ? target.on : target.off).toUtf8(), false);
        }
        if (v.modes[i]) send(outputTopic(m_settings, m, "mode"), modePayload(*v.modes[i]), true);
        if (v.next[i]) send(outputTopic(m_settings, m, "next"), nextPayload(*v.next[i]), true);
        sendHours(m, v.hours[i]);
    }
    for (int n = 1; n <= kInputs; ++n)
        if (v.inputs[n - 1]) send(inputTopic(m_settings, n), onOffPayload(*v.inputs[n - 1]), true);
}

void Worker::close(bool farewell, QDeadlineTimer deadline)
{
    m_retry.stop();
    m_birth.stop();
    m_hours.stop();
    m_answer.stop();
    if (m_connected && farewell) {
        sync();
        send(availabilityTopic(m_settings), QByteArrayLiteral("offline"), true);
        // libmosquitto 2.0.11 garbles the stream when DISCONNECT is sent from
        // here while the network thread still writes: the broker then drops
        // the client and what it had not read yet. So the broker confirms first.
        if (!waitForAcknowledgements(deadline))
            say(m_build.title, QStringLiteral("the broker did not confirm the last states in time"));
    }
    if (m_loopRunning) {
        mosquitto_disconnect(m_client);
        mosquitto_loop_stop(m_client, false);
        m_loopRunning = false;
    }
    ++m_generation;
    m_connected = false;
    if (m_client) mosquitto_destroy(m_client);
    m_client = nullptr;
}

void Worker::apply(const Settings& s, const Announced& record)
{
    const auto connection = [](const Settings& a) {
        return std::tie(a.enabled, a.host, a.port, a.tls, a.caFile, a.username, a.password, a.name,
                        a.baseTopic, a.discoveryPrefix, a.problem);
    };
    const Settings old = m_settings;
    if (connection(old) == connection(s)) {
        m_settings = s;
        if (!m_connected) return;
        if (old.discovery && !s.discovery) {
            m_sent.remove(discoveryTopic(s));
            send(discoveryTopic(s), QByteArray(), true);
            m_announced.discoveryTopic.clear();
            emit announced(m_announced.discoveryTopic, m_announced.availabilityTopic);
        }
        if (!old.discovery && s.discovery) subscribe(birthTopic(s));
        for (int i = 0; i < kOutputs; ++i)
            if (!(old.outputs[i] == s.outputs[i])) m_sent.remove(s.outputs[i].topic);
        sync();
        if (!old.discovery && s.discovery) {
            m_announced.discoveryTopic = discoveryTopic(s);
            emit announced(m_announced.discoveryTopic, m_announced.availabilityTopic);
        }
        return;
    }
    // The file's record counts until this thread has one of its own (the
    // file may not have the latest yet).
    if (!m_announcedTaken) m_announced = record;
    m_announcedTaken = true;
    // The old device goes from Home Assistant when it is not the same one any more
    // (on this broker: the next connect may be to another one).
    if (m_connected && old.discovery && (!s.discovery || discoveryTopic(old) != discoveryTopic(s))) {
        send(discoveryTopic(old), QByteArray(), true);
        m_announced.discoveryTopic.clear();
        emit announced(m_announced.discoveryTopic, m_announced.availabilityTopic);
    }
    close(true, QDeadlineTimer(kFarewellOnApply));
    m_settings = s;
    m_discovery.clear();
    m_failures = 0;
    m_v5 = true;
    m_takenOver = false;
    m_badTopics.clear();
    if (s.enabled && !s.problem.isEmpty()) {
        report(State::BadSettings, s.problem);
        return;
    }
    report(s.enabled ? State::Connecting : State::Off);
    attempt();
}

Link::Link(const BuildConfig& build, QObject* parent)
    : QObject(parent), m_build(build), m_shared(std::make_shared<Shared>())
{
    m_settings.name = defaultName(build);
}

bool Link::startThread()
{
    // The thread's event loop aborts the program when it cannot make its
    // wake-up; the connection needs a socket and name lookups besides. So the
    // thread starts only when the link is switched on, and only with handles to
    // spare (with ulimit -n 10 the switch still runs, without MQTT).
    std::vector<int> probes;
    for (int i = 0; i < kHandlesNeeded; ++i)
        if (const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC); fd >= 0) probes.push_back(fd);
    const bool enough = probes.size() == size_t(kHandlesNeeded);
    for (const int fd : probes)
        ::close(fd);
    if (!enough) return false;
    // Not parented: when the network holds it past the end, it is left to the process's exit.
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("mqtt"));
    m_worker = new Worker(m_build, m_shared);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &Worker::reported, this,
            [this](int state, const QString& detail) { takeState(State(state), detail); });
    connect(m_worker, &Worker::commandsWaiting, this, &Link::takeCommands);
    connect(m_worker, &Worker::announced, this,
            [this](const QString& discovery, const QString& availability) {
                Announced{true, discovery, availability}.save(m_build.title);
            });
    // A batch thread does not preempt the thread that woke it: the setters
    // return before the publishing starts, even when both cores are busy.
    // libmosquitto's network thread inherits this.
    QMetaObject::invokeMethod(
        m_worker,
        [] {
            const sched_param none{};
            sched_setscheduler(0, SCHED_BATCH, &none);
        },
        Qt::QueuedConnection);
    startWithWakeUp(*m_thread);
    return true;
}

Link::~Link()
{
    stop(1s);
    if (!m_thread) return;
    m_thread->quit();
    // A thread that missed the stop's bound is held by the network (a connect
    // to a host that does not answer): the end is not held up a second time.
    if (m_thread->wait(QDeadlineTimer(m_stopTimedOut ? 0 : 1000)))
        delete m_thread;
    else
        say(m_build.title, QStringLiteral("the broker connection was still closing when the program ended"));
}

void Link::takeCommands()
{
    std::array<std::optional<Mode>, kOutputs> commands;
    {
        std::lock_guard lock(m_shared->mutex);
        commands = m_shared->commands;
        m_shared->commands.fill(std::nullopt);
        m_shared->commandsPosted = false;
    }
    // A command that crossed the stop is not acted on: the outputs are OFF by then.
    if (m_stopped) return;
    for (int m = 1; m <= kOutputs; ++m)
        if (commands[m - 1]) emit modeCommand(m, *commands[m - 1]);
}

void Link::takeState(State state, const QString& detail)
{
    if (state == m_state && detail == m_detail) return;
    m_state = state;
    m_detail = detail;
    emit stateChanged();
}

QString Link::stateText() const
{
    return describe(m_state, m_detail, m_settings);
}

QString Link::shortState() const
{
    switch (m_state) {
    case State::Off:
        return QStringLiteral("MQTT: off");
    case State::Connecting:
        return QStringLiteral("MQTT: connecting");
    case State::Connected:
        return QStringLiteral("MQTT: connected");
    case State::Refused:
        return QStringLiteral("MQTT: refused");
    case State::BadCredentials:
        return QStringLiteral("MQTT: bad credentials");
    case State::NotAuthorised:
        return QStringLiteral("MQTT: not authorised");
    case State::TlsError:
        return QStringLiteral("MQTT: TLS error");
    case State::Unreachable:
        return QStringLiteral("MQTT: unreachable");
    case State::BadSettings:
        return QStringLiteral("MQTT: settings refused");
    }
    return {};
}

void Link::apply(const Settings& settings)
{
    if (m_stopped) return;
    const bool changed = !(m_settings == settings);
    m_settings = settings;
    if (changed) emit settingsChanged();
    if (!m_worker && !settings.enabled) return;
    if (!m_worker && !settings.problem.isEmpty()) {
        // Settings that cannot work need no thread: said once, nothing sent.
        if (m_state != State::BadSettings || m_detail != settings.problem)
            say(m_build.title, describe(State::BadSettings, settings.problem, m_settings));
        takeState(State::BadSettings, settings.problem);
        return;
    }
    if (!m_worker && !startThread()) {
        const QString why = QStringLiteral("too few open files, see ulimit -n");
        if (m_detail != why) say(m_build.title, describe(State::Unreachable, why, m_settings));
        takeState(State::Unreachable, why);
        QTimer::singleShot(kLastRetry, this, [this, settings] {
            if (!m_worker && m_settings == settings) apply(settings);
        });
        return;
    }
    Worker* w = m_worker;
    const Announced announced = Announced::load(m_build.title);
    QMetaObject::invokeMethod(
        w, [w, settings, announced] { w->apply(settings, announced); }, Qt::QueuedConnection);
}

void Link::wake()
{
    // Called with the mutex held; posting only queues an event. Before the
    // thread starts there is nobody to wake: it takes the values at its first connect.
    if (!m_worker || m_shared->wakePosted) return;
    m_shared->wakePosted = true;
    QMetaObject::invokeMethod(m_worker, &Worker::sync, Qt::QueuedConnection);
}

void Link::setOutputs(quint8 onMask)
{
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->values.outputs == onMask) return;
    m_shared->values.outputs = onMask;
    wake();
}

void Link::setMode(int output, Mode mode)
{
    if (output < 1 || output > kOutputs) return;
    std::lock_guard lock(m_shared->mutex);
    auto& v = m_shared->values.modes[output - 1];
    if (v == mode) return;
    v = mode;
    wake();
}

void Link::setNext(int output, const QDateTime& at)
{
    if (output < 1 || output > kOutputs) return;
    std::lock_guard lock(m_shared->mutex);
    auto& v = m_shared->values.next[output - 1];
    if (v && *v == at && v->offsetFromUtc() == at.offsetFromUtc()) return;
    v = at;
    wake();
}

void Link::setHours(int output, double hours)
{
    if (output < 1 || output > kOutputs) return;
    std::lock_guard lock(m_shared->mutex);
    auto& v = m_shared->values.hours[output - 1];
    if (v == hours) return;
    v = hours;
    wake();
}

void Link::setInput(int input, bool on)
{
    if (input < 1 || input > kInputs) return;
    std::lock_guard lock(m_shared->mutex);
    auto& v = m_shared->values.inputs[input - 1];
    if (v == on) return;
    v = on;
    wake();
}

void Link::setLocation(int output, const QString& text)
{
    if (output < 1 || output > kOutputs) return;
    std::lock_guard lock(m_shared->mutex);
    QString& v = m_shared->values.locations[output - 1];
    if (v == text) return;
    v = text;
    wake();
}

void Link::stop(std::chrono::milliseconds within)
{
    if (m_stopped) return;
    m_stopped = true;
    if (!m_worker) return;
    auto done = std::make_shared<QSemaphore>();
    Worker* w = m_worker;
    // The worker gives up waiting for the broker a little earlier, to disconnect in time.
    const QDeadlineTimer deadline(within * 4 / 5);
    QMetaObject::invokeMethod(
        w,
        [w, done, deadline] {
            w->stop(deadline);
            done->release();
        },
        Qt::QueuedConnection);
    m_stopTimedOut = !done->tryAcquire(1, int(within.count()));
    if (m_stopTimedOut)
        say(m_build.title,
            QStringLiteral("the broker did not take the last states within %1 ms").arg(within.count()));
}

} // namespace kestra::mqtt

#include "link.moc"
