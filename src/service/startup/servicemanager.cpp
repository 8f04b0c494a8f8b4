#include "service/startup/servicemanager.h"

#include "model/switchmodel.h"

#include <QStringList>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <systemd/sd-daemon.h>
#include <thread>

namespace kestra::shell {

namespace {
// sd_notify() waits while the service manager's socket is full (systemd busy or
// hung): the messages go out from a thread of their own, so that the scan never
// waits for it. What piles up behind a waiting send is dropped, READY=1 and
// STOPPING=1 aside; the thread is never joined, as it may wait on for good.
class Sender
{
public:
    void send(const QByteArray& state, bool mustArrive)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (!mustArrive && m_queue.size() >= 4) return;
            m_queue.push_back(state);
            if (!m_started) {
                m_started = true;
                std::thread([this] { run(); }).detach();
            }
        }
        m_wake.notify_all();
    }

    // Waits, at most `most`, until what was handed over has been sent. In short
    // sleeps rather than a timed wait: under libfaketime a timed wait on the
    // monotonic clock may never time out.
    void flush(std::chrono::milliseconds most)
    {
        for (auto waited = std::chrono::milliseconds(0); waited < most;
             waited += std::chrono::milliseconds(10)) {
            {
                const std::lock_guard lock(m_mutex);
                if (m_queue.empty() && !m_sending) return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    void run()
    {
        for (;;) {
            QByteArray state;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return !m_queue.empty(); });
                state = m_queue.front();
                m_queue.pop_front();
                m_sending = true;
            }
            // unset_environment 0: a failure here changes nothing for the switch.
            sd_notify(0, state.constData());
            {
                const std::lock_guard lock(m_mutex);
                m_sending = false;
            }
            m_wake.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QByteArray> m_queue;
    bool m_started = false;
    bool m_sending = false;
};

Sender* notifier()
{
    // Without systemd there is nobody to tell, and no thread is started.
    // Never destroyed: the thread may still be sending when the program ends.
    static Sender* const instance = qEnvironmentVariableIsSet("NOTIFY_SOCKET") ? new Sender : nullptr;
    return instance;
}

void notify(const QString& state, bool mustArrive = false)
{
    if (Sender* s = notifier()) s->send(state.toUtf8(), mustArrive);
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
    notify(QStringLiteral("READY=1\nSTATUS=") + m_status, true);
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
    notify(QStringLiteral("STOPPING=1\nSTATUS=Stopping: every output is switched OFF"), true);
    // Sent before the program goes, unless systemd does not listen.
    if (Sender* s = notifier()) s->flush(std::chrono::milliseconds(200));
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
