#include "service/startup/signals.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestra::shell {

namespace {
int g_fds[2] = {-1, -1};
volatile std::sig_atomic_t g_pending = 0;
// Set by the handler for each signal it saw: a byte in the socket is believed
// only when its signal really came (whatever else may write there).
std::array<volatile std::sig_atomic_t, 65> g_seen{};

extern "C" void onSignal(int sig)
{
    const int saved = errno;
    g_pending = sig;
    if (sig > 0 && sig < int(g_seen.size())) g_seen[size_t(sig)] = 1;
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &b, 1);
    errno = saved;
}

void setHandlers(void (*handler)(int))
{
    struct sigaction sa
    {
    };
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : SignalForwarder::endingSignals())
        ::sigaction(sig, &sa, nullptr);
}

void ignoreWriteSignals()
{
    struct sigaction sa
    {
    };
    sa.sa_handler = SIG_IGN;
    sigemptyset(&sa.sa_mask);
    // A write past the file-size limit fails with EFBIG; one to a closed pipe or socket with EPIPE.
    for (int sig : {SIGXFSZ, SIGPIPE})
        ::sigaction(sig, &sa, nullptr);
}
} // namespace

std::vector<int> SignalForwarder::endingSignals()
{
    std::vector<int> list{SIGTERM, SIGINT,    SIGHUP,  SIGQUIT,   SIGUSR1, SIGUSR2,
                          SIGALRM, SIGVTALRM, SIGPOLL, SIGSTKFLT, SIGPWR};
    for (int sig = SIGRTMIN; sig <= SIGRTMAX && sig < int(g_seen.size()); ++sig)
        list.push_back(sig);
    return list;
}

void SignalForwarder::install()
{
    if (g_fds[0] >= 0) return;
    ignoreWriteSignals();
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) == 0) {
        ::fcntl(g_fds[0], F_SETFL, O_NONBLOCK);
        ::fcntl(g_fds[1], F_SETFL, O_NONBLOCK);
        // Nobody but the handler writes into it.
        ::shutdown(g_fds[1], SHUT_WR);
    }
    // Even without the socket pair the flag is kept.
    setHandlers(onSignal);
}

int SignalForwarder::pending()
{
    return g_pending;
}

SignalForwarder::SignalForwarder(QObject* parent) : QObject(parent)
{
    install();
    if (g_fds[1] < 0) return;
    m_notifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalForwarder::readSignal);
}

SignalForwarder::~SignalForwarder()
{
    setHandlers(SIG_DFL);
    delete m_notifier;
    for (int& fd : g_fds) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void SignalForwarder::readSignal()
{
    unsigned char bytes[64];
    const ssize_t n = ::read(g_fds[1], bytes, sizeof bytes);
    for (ssize_t i = 0; i < n; ++i) {
        const int sig = bytes[i];
        if (sig <= 0 || sig >= int(g_seen.size()) || !g_seen[size_t(sig)]) continue;
        g_seen[size_t(sig)] = 0;
        emit received(sig);
    }
}

} // namespace kestra::shell
