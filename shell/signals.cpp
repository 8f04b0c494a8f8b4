#include "shell/signals.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestra::shell {

namespace {
int g_fds[2] = {-1, -1};

extern "C" void onSignal(int sig)
{
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &b, 1);
}
} // namespace

SignalForwarder::SignalForwarder(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) != 0) return;
    ::fcntl(g_fds[0], F_SETFL, O_NONBLOCK);
    m_notifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalForwarder::readSignal);
    struct sigaction sa
    {
    };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}

SignalForwarder::~SignalForwarder()
{
    struct sigaction sa
    {
    };
    sa.sa_handler = SIG_DFL;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
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
