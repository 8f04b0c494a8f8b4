// kestra-mqttbench: what the link to an MQTT broker costs the switch. Starts a
// mosquitto of its own on a free loopback port, then times a port write's
// state message from setOutputs to the broker's subscriber, and the time the
// setters take on the calling thread while the broker is stopped (SIGSTOP).

#include "service/mqtt/link.h"
#include "tests/support/mosquitto.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

using namespace kestra;
using namespace mqtttest;

namespace {

// Figures of a sample: "median 0.31, p95 0.40, max 0.52 (n)".
QString summary(std::vector<double> v)
{
    if (v.empty()) return QStringLiteral("no sample");
    std::sort(v.begin(), v.end());
    return QStringLiteral("median %1, p95 %2, max %3 (%4)")
        .arg(v[v.size() / 2], 0, 'f', 3)
        .arg(v[std::min(v.size() - 1, v.size() * 95 / 100)], 0, 'f', 3)
        .arg(v.back(), 0, 'f', 3)
        .arg(v.size());
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// Microseconds one call takes on the calling thread.
template <typename Call> std::vector<double> timeCalls(int count, Call call)
{
    std::vector<double> us;
    QElapsedTimer t;
    for (int i = 0; i < count; ++i) {
        t.start();
        call(i);
        us.push_back(double(t.nsecsElapsed()) / 1000.0);
    }
    return us;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("What the MQTT link costs the switch"));
    parser.addHelpOption();
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("State messages to time."),
                                          QStringLiteral("n"), QStringLiteral("50"));
    const QCommandLineOption callsOption(QStringLiteral("calls"),
                                         QStringLiteral("Setter calls to time with the broker stopped."),
                                         QStringLiteral("n"), QStringLiteral("2000"));
    parser.addOptions({roundsOption, callsOption});
    parser.process(app);
    const int rounds = parser.value(roundsOption).toInt();
    const int calls = parser.value(callsOption).toInt();

    // The placement file is not the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());

    Broker broker;
    if (!broker.start()) {
        std::fprintf(stderr,
                     "kestra-mqttbench: mosquitto did not start (scripts/install-deps.sh installs it)\n");
        return 1;
    }
    mqtt::Link link(kestra3Config());
    mqtt::Settings s;
    s.enabled = true;
    s.host = QStringLiteral("127.0.0.1");
    s.port = broker.port();
    s.name = QStringLiteral("kestra3-bench");
    link.setOutputs(0);
    link.apply(s);
    if (!waitFor([&] { return link.state() == mqtt::Link::State::Connected; }, 5000)) {
        std::fprintf(stderr, "kestra-mqttbench: %s\n", qPrintable(link.stateText()));
        return 1;
    }

    const QString topic = QStringLiteral("kestra/kestra3-bench/output/1/state");
    Subscriber sub(broker.port(), topic);
    sub.wait(topic);
    std::vector<double> latency;
    for (int i = 1; i <= rounds; ++i) {
        const size_t from = sub.messages().size();
        const double at = nowSeconds();
        link.setOutputs(quint8(i % 2));
        if (const auto m = sub.wait(topic, 2000, from)) latency.push_back((m->at - at) * 1000);
        // Apart like switchings, not a burst.
        waitFor([] { return false; }, 20);
    }
    std::printf("setOutputs -> state message at the broker, ms: %s\n", qPrintable(summary(latency)));

    const auto outputsCall = [&](int i) { link.setOutputs(quint8(i)); };
    const auto modeCall = [&](int i) { link.setMode(1 + i % 8, channels::Mode(1 + i % 3)); };
    std::printf("on the calling thread, broker running, us: setOutputs %s\n",
                qPrintable(summary(timeCalls(calls, outputsCall))));
    broker.pause();
    std::vector<double> outputs, modes, nothing, syscall;
    std::atomic<int> counter{0};
    const int wake = eventfd(0, EFD_NONBLOCK);
    const quint64 one = 1;
    for (int round = 0; round < 10; ++round) {
        // The link's thread goes on writing into the socket meanwhile.
        const auto o = timeCalls(calls / 10, outputsCall);
        const auto m = timeCalls(calls / 10, modeCall);
        // The same loop around a call that cannot wait, and around one system call (what
        // posting the wake-up costs at least): what the machine adds by descheduling.
        const auto n = timeCalls(calls / 10, [&](int) { counter.fetch_add(1); });
        const auto w =
            timeCalls(calls / 10, [&](int) { [[maybe_unused]] auto r = ::write(wake, &one, sizeof one); });
        syscall.insert(syscall.end(), w.begin(), w.end());
        outputs.insert(outputs.end(), o.begin(), o.end());
        modes.insert(modes.end(), m.begin(), m.end());
        nothing.insert(nothing.end(), n.begin(), n.end());
        waitFor([] { return false; }, 50);
    }
    std::printf("on the calling thread, broker stopped (SIGSTOP), us: setOutputs %s\n",
                qPrintable(summary(outputs)));
    std::printf("                                                     setMode    %s\n",
                qPrintable(summary(modes)));
    std::printf("                                                     an atomic add (for comparison) %s\n",
                qPrintable(summary(nothing)));
    std::printf("                                                     one write to an eventfd %s\n",
                qPrintable(summary(syscall)));
    ::close(wake);
    QElapsedTimer stopTime;
    stopTime.start();
    link.stop(std::chrono::milliseconds(1000));
    std::printf("stop(1000 ms) with the broker stopped returned after %lld ms\n", stopTime.elapsed());
    broker.resume();
    return 0;
}
