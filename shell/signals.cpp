#include "shell/signals.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestra::shell {

namespace {
int g_fds[2] = {-1, -1};
volatile std::sig_atomic_t g_pending = 0;

extern "C" void onSignal(int sig)
{
    g_pending = sig;
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &b, 1);
}

void setHandlers(void (*handler)(int))
{
    struct sigaction sa
    {
    };
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}
} // namespace

void SignalForwarder::install()
{
    if (g_fds[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) == 0) {
        ::fcntl(g_fds[0], F_SETFL, O_NONBLOCK);
        ::fcntl(g_fds[1], F_SETFL, O_NONBLOCK);
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
    unsigned char b = 0;
    if (::read(g_fds[1], &b, 1) == 1) emit received(b);
}

} // namespace kestra::shell
