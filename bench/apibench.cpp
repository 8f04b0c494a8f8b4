// kestra-api-bench: the API of the running program, measured from outside.
// Starts kestra3 --headless in temporary directories and times:
//  1. a mode command (POST /api/command) to the data byte in the simulated port file;
//  2. a port write to its "port" event at a client of the event stream;
//  3. a switching's edge on the port against its scheduled second, quiet, and
//     with 50 clients holding event streams while another floods requests;
//  4. the service's memory (VmRSS) idle and with the 50 streams.

#include "client/apirequest.h"
#include "client/endpoint.h"
#include "tests/support/sandbox.h"

#include "bench/benchsupport.h"
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace e2e;
using namespace kestra;

using namespace kestra::bench;

namespace {

constexpr int kPollUs = 250;

double nowSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Clients of the event stream on a thread of their own, reading and dropping
// what comes; the first one notes when each "port" event arrived.
class Streams
{
public:
    Streams(quint16 port, QByteArray token, int count) : m_thread([=, this] { run(port, token, count); }) {}
    ~Streams()
    {
        m_stop = true;
        m_thread.join();
    }
    int open() const { return m_open; }
    // Arrival times of "port" events with data byte `byte`, after `after`.
    std::optional<double> portEvent(int byte, double after, double deadline)
    {
        const QByteArray needle = "\"byte\":" + QByteArray::number(byte) + ',';
        while (nowSeconds() < deadline) {
            {
                std::lock_guard lock(m_mutex);
                for (const auto& [at, data] : m_portEvents)
                    if (at >= after && data.contains(needle)) return at;
            }
            ::usleep(kPollUs);
        }
        return std::nullopt;
    }

private:
    void run(quint16 port, const QByteArray& token, int count)
    {
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        QByteArray first;
        for (int i = 0; i < count; ++i) {
            auto s = std::make_unique<QTcpSocket>();
            s->connectToHost(QStringLiteral("127.0.0.1"), port);
            if (!s->waitForConnected(2000)) continue;
            s->write("GET /api/events HTTP/1.0\r\nAuthorization: Bearer " + token + "\r\n\r\n");
            s->flush();
            sockets.push_back(std::move(s));
        }
        m_open = int(sockets.size());
        while (!m_stop) {
            if (!sockets.front()->waitForReadyRead(20)) {
                for (auto& s : sockets)
                    s->readAll();
                continue;
            }
            const double at = nowSeconds();
            first += sockets.front()->readAll();
            for (qsizetype end; (end = first.indexOf("\n\n")) >= 0; first.remove(0, end + 2))
                if (first.startsWith("event: port")) {
                    std::lock_guard lock(m_mutex);
                    m_portEvents.emplace_back(at, first.left(end));
                }
            for (size_t i = 1; i < sockets.size(); ++i)
                sockets[i]->readAll();
        }
    }

    std::atomic<bool> m_stop{false};
    std::atomic<int> m_open{0};
    std::mutex m_mutex;
    std::vector<std::pair<double, QByteArray>> m_portEvents;
    std::thread m_thread;
};

// Requests as fast as a few connections at once get answers: GET /api/state.
class Flood
{
public:
    Flood(quint16 port, QByteArray token, int parallel)
    {
        for (int i = 0; i < parallel; ++i)
            m_threads.emplace_back([=, this] {
                const api::Client c(port, token);
                while (!m_stop) {
                    const api::Reply r = c.get("/api/state", std::chrono::seconds(5));
                    ++(r.status == 200 ? m_ok : m_refused);
                }
            });
    }
    ~Flood()
    {
        m_stop = true;
        for (auto& t : m_threads)
            t.join();
    }
    int ok() const { return m_ok; }
    int refused() const { return m_refused; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_ok{0}, m_refused{0};
    std::vector<std::thread> m_threads;
};

class Bench
{
public:
    explicit Bench(const QString& program) : m_build{program, "KESTRA3", "Kestra3.db", "port-3BC"} {}

    bool start(Fields fields = {})
    {
        QSettings(m_box.iniPath(m_build), QSettings::IniFormat).setValue(QStringLiteral("Api/Port"), 0);
        fields.insert(fields.end(), {{"SOURCEPORT", "True"}, {"output", "0"}});
        if (QFile::exists(m_box.databasePath(m_build)) && !m_box.setFields(m_build, fields))
            return fail(QStringLiteral("the settings record could not be set"));
        QFile::remove(m_box.runtime() + QStringLiteral("/kestra/kestra3-api.json"));
        m_program = std::make_unique<Program>(m_box, m_build);
        m_program->setArguments({QStringLiteral("--headless")});
        if (!m_program->start() || !m_program->waitRunning())
            return fail(QStringLiteral("kestra3 did not start"));
        m_portFd = ::open(qPrintable(m_box.portPath(m_build)), O_RDONLY | O_CLOEXEC);
        qputenv("XDG_RUNTIME_DIR", m_box.runtime().toLocal8Bit());
        if (!waitUntil([&] { return bool(m_endpoint = api::readEndpoint(kestra3Config())); }, 5s))
            return fail(QStringLiteral("no endpoint file"));
        return true;
    }
    bool stop()
    {
        ::close(m_portFd);
        const bool ended = m_program->terminate(10s);
        m_lastStopMs = m_program->lastStopMs();
        m_program.reset();
        return ended || fail(QStringLiteral("kestra3 did not end within 10 s of SIGTERM"));
    }

    std::optional<double> waitBit(int bit, bool on, double deadline)
    {
        for (;;) {
            unsigned char data = 0;
            const bool read = ::pread(m_portFd, &data, 1, 0) == 1;
            const double now = nowSeconds();
            if (read && bool(data & bit) == on) return now;
            if (now > deadline) return std::nullopt;
            ::usleep(kPollUs);
        }
    }

    double rssMb() const
    {
        QFile f(QStringLiteral("/proc/%1/status").arg(m_program->pid()));
        f.open(QIODevice::ReadOnly);
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
        return 0;
    }

    bool commands(int count)
    {
        if (!start()) return false;
        m_rssIdle = rssMb();
        Streams watcher(m_endpoint->port, m_endpoint->token, 1);
        if (!waitUntil([&] { return watcher.open() == 1; }, 5s))
            return fail(QStringLiteral("no event stream"));
        QThread::msleep(300);
        const api::Client c(m_endpoint->port, m_endpoint->token);
        for (int i = 0; i < count; ++i) {
            const bool on = i % 2 == 0;
            const double sent = nowSeconds();
            const api::Reply r =
                c.post("/api/command",
                       QByteArray(R"({"command":"mode","output":4,"mode":")") + (on ? "ON" : "OFF") + "\"}");
            const auto atPort = waitBit(8, on, sent + 5);
            if (r.status != 200 || !atPort) return fail(QStringLiteral("command %1 was not followed").arg(i));
            m_commandToPort.push_back((*atPort - sent) * 1e3);
            const int byte = on ? 8 : 0;
            if (const auto event = watcher.portEvent(byte, *atPort - 0.05, *atPort + 2))
                m_portToEvent.push_back((*event - *atPort) * 1e3);
            QThread::msleep(50);
        }
        return stop();
    }

    // Channel 8, ten switchings three seconds apart, each ON for its second and the next.
    bool switchings(bool loaded)
    {
        QDateTime first = QDateTime::currentDateTimeUtc().addSecs(6);
        first.setTime(QTime(first.time().hour(), first.time().minute(), first.time().second()));
        if (first.time() > QTime(23, 58))
            return fail(QStringLiteral("too close to midnight; run again later"));
        static const char* days[] = {"Sun8", "Mon8", "Tue8", "Wed8", "Thr8", "Fri8", "Sat8"};
        Fields fields{{"Auto8", "True"}, {"On8", "False"}, {"Off8", "False"}};
        for (int d = 0; d < 7; ++d)
            fields.push_back({days[d], d == first.date().dayOfWeek() % 7 ? "True" : "False"});
        for (int k = 0; k < 10; ++k) {
            const QString s(QChar('a' + k));
            fields.push_back({"Start8" + s, first.addSecs(3 * k).toString("HH:mm:ss")});
            fields.push_back({"Run8" + s, "00:00:01"});
        }
        if (!start(fields)) return false;
        std::unique_ptr<Streams> streams;
        std::unique_ptr<Flood> flood;
        if (loaded) {
            streams = std::make_unique<Streams>(m_endpoint->port, m_endpoint->token, 50);
            if (!waitUntil([&] { return streams->open() == 50; }, 5s))
                return fail(QStringLiteral("50 streams"));
            flood = std::make_unique<Flood>(m_endpoint->port, m_endpoint->token, 4);
        }
        const double firstS = double(first.toSecsSinceEpoch());
        for (int k = 0; k < 10; ++k) {
            for (const bool on : {true, false}) {
                const double due = firstS + 3 * k + (on ? 0 : 2);
                const auto seen = waitBit(128, on, due + 1.5);
                if (!seen) return fail(QStringLiteral("switching %1 did not reach the port").arg(k));
                m_edges[loaded].push_back((*seen - due) * 1e3);
            }
            if (loaded) m_rssStreams = std::max(m_rssStreams, rssMb());
        }
        if (flood) {
            m_flood = QStringLiteral("%1 answered, %2 refused (429/503) in about 30 s")
                          .arg(flood->ok())
                          .arg(flood->refused());
        }
        // The end with the streams open and the flood going on.
        const bool stopped = stop();
        m_stops[loaded].push_back(double(m_lastStopMs));
        flood.reset();
        streams.reset();
        return stopped;
    }

    void report() const
    {
        say(QStringLiteral("command (POST /api/command) to the port byte, ms: ") + summary(m_commandToPort));
        say(QStringLiteral("port byte to its event at a stream client, ms: ") + summary(m_portToEvent));
        say(QStringLiteral("switching to the port, quiet, ms: ") + summary(m_edges[0]));
        say(QStringLiteral("switching to the port, 50 streams + a flood of GET /api/state, ms: ") +
            summary(m_edges[1]));
        say(QStringLiteral("flood: ") + m_flood);
        say(QStringLiteral("SIGTERM to the end, quiet, ms: ") + summary(m_stops[0]));
        say(QStringLiteral("SIGTERM to the end, 50 streams and the flood, ms: ") + summary(m_stops[1]));
        say(QStringLiteral("service memory (VmRSS): idle %1 MB, with 50 streams and the flood %2 MB")
                .arg(m_rssIdle, 0, 'f', 1)
                .arg(m_rssStreams, 0, 'f', 1));
    }

private:
    bool fail(const QString& why)
    {
        say(QStringLiteral("failed: %1").arg(why));
        if (m_program) say(m_program->standardError());
        return false;
    }

    Sandbox m_box;
    Build m_build;
    std::unique_ptr<Program> m_program;
    std::optional<api::Endpoint> m_endpoint;
    int m_portFd = -1;
    std::vector<double> m_commandToPort, m_portToEvent, m_edges[2];
    double m_rssIdle = 0, m_rssStreams = 0;
    QString m_flood;
    qint64 m_lastStopMs = 0;
    std::vector<double> m_stops[2];
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The API of the running kestra3."));
    parser.addHelpOption();
    const QCommandLineOption program(QStringLiteral("program"), QStringLiteral("kestra3 to run"),
                                     QStringLiteral("path"), QStringLiteral(KESTRA3_PATH));
    const QCommandLineOption commands(QStringLiteral("commands"), QStringLiteral("mode commands (100)"),
                                      QStringLiteral("n"), QStringLiteral("100"));
    const QCommandLineOption runs(QStringLiteral("runs"),
                                  QStringLiteral("runs of 10 switchings each way (1)"), QStringLiteral("n"),
                                  QStringLiteral("1"));
    parser.addOptions({program, commands, runs});
    parser.process(app);

    Bench bench(parser.value(program));
    say(QStringLiteral("kestra3: %1 --headless; %2 cores")
            .arg(parser.value(program))
            .arg(QThread::idealThreadCount()));
    if (!bench.start() || !bench.stop()) return 1; // the first start makes the settings file
    if (!bench.commands(parser.value(commands).toInt())) return 1;
    for (int r = 0; r < parser.value(runs).toInt(); ++r)
        if (!bench.switchings(false) || !bench.switchings(true)) return 1;
    bench.report();
    return 0;
}
