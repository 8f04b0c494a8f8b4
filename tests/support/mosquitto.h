#pragma once

// A real mosquitto broker on a free loopback port with a configuration of its
// own, and a subscriber (mosquitto_sub) that notes every message with the time
// it arrived. For the MQTT tests and the benchmark.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <optional>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace mqtttest {

// port 0: binds to a free port and returns it; else whether something accepts on it.
inline int loopback(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, htons(quint16(port)), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof a;
    const int r = port ? ::connect(fd, reinterpret_cast<sockaddr*>(&a), size) == 0
                       : (::bind(fd, reinterpret_cast<sockaddr*>(&a), size),
                          getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size), ntohs(a.sin_port));
    ::close(fd);
    return r;
}

class Broker
{
public:
    // With a user, anonymous clients are still let in, so that a client that
    // fell back to anonymous would be seen connecting.
    explicit Broker(const QString& user = {}, const QString& password = {}) : m_port(loopback(0))
    {
        QStringList conf{QStringLiteral("listener %1 127.0.0.1").arg(m_port),
                         QStringLiteral("allow_anonymous true"), QStringLiteral("persistence false"),
                         // Started as root, mosquitto would drop to a user that cannot read this directory.
                         QStringLiteral("user %1").arg(QString::fromLocal8Bit(getpwuid(getuid())->pw_name))};
        if (!user.isEmpty()) {
            const QString file = m_dir.filePath(QStringLiteral("passwords"));
            QProcess::execute(QStringLiteral("mosquitto_passwd"),
                              {QStringLiteral("-b"), QStringLiteral("-c"), file, user, password});
            conf << QStringLiteral("password_file ") + file;
        }
        QFile f(m_dir.filePath(QStringLiteral("mosquitto.conf")));
        if (f.open(QIODevice::WriteOnly)) f.write(conf.join(QLatin1Char('\n')).toUtf8() + '\n');
        m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("log")), QIODevice::Append);
    }
    ~Broker() { stop(); }

    int port() const { return m_port; }

    bool start()
    {
        m_process.start(QStringLiteral("mosquitto"),
                        {QStringLiteral("-c"), m_dir.filePath(QStringLiteral("mosquitto.conf"))});
        QDeadlineTimer deadline(5000);
        m_process.waitForStarted(5000);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            if (loopback(m_port)) return true;
            QThread::msleep(10);
        }
        return false;
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning) return;
        resume();
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) m_process.kill();
        m_process.waitForFinished(5000);
    }
    void pause() { ::kill(pid_t(m_process.processId()), SIGSTOP); }
    void resume() { ::kill(pid_t(m_process.processId()), SIGCONT); }

private:
    QTemporaryDir m_dir;
    int m_port;
    QProcess m_process;
};

struct Message
{
    size_t index = 0; // in the order received
    double at = 0;    // seconds since 1970 when the subscriber got it
    bool retained = false;
    QString topic;
    QByteArray payload;
};

inline double nowSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

class Subscriber
{
public:
    explicit Subscriber(int port, const QString& filter = QStringLiteral("#"))
    {
        m_process.start(QStringLiteral("mosquitto_sub"),
                        {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                         QString::number(port), QStringLiteral("-q"), QStringLiteral("1"),
                         QStringLiteral("-t"), filter, QStringLiteral("-F"), QStringLiteral("%U %r %t %x")});
        m_process.waitForStarted(5000);
    }
    ~Subscriber()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Everything received so far, oldest first.
    const std::vector<Message>& messages()
    {
        QCoreApplication::processEvents();
        while (m_process.canReadLine()) {
            const QList<QByteArray> f = m_process.readLine().trimmed().split(' ');
            if (f.size() < 3) continue;
            m_messages.push_back({m_messages.size(), f[0].toDouble(), f[1] == "1", QString::fromUtf8(f[2]),
                                  QByteArray::fromHex(f.value(3))});
        }
        return m_messages;
    }
    // The last message on `topic` after index `from`; waits up to `ms` for one.
    std::optional<Message> wait(const QString& topic, int ms = 5000, size_t from = 0)
    {
        QDeadlineTimer deadline(ms);
        do {
            m_process.waitForReadyRead(10);
            const auto& all = messages();
            for (size_t i = all.size(); i > from; --i)
                if (all[i - 1].topic == topic) return all[i - 1];
        } while (!deadline.hasExpired());
        return std::nullopt;
    }

private:
    QProcess m_process;
    std::vector<Message> m_messages;
};

} // namespace mqtttest
