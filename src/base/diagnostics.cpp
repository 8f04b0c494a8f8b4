#include "base/diagnostics.h"

#include <QtGlobal>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace kestra {

namespace {

// Kinds remembered at most; a line of a further kind is said without a count.
constexpr size_t kMostKinds = 512;

// The kind of a line: its text with every number made alike, so that "output 3"
// and "output 5" or two times of day count as one.
QString kindOf(const QString& text)
{
    QString kind;
    kind.reserve(std::min<qsizetype>(text.size(), 300));
    bool inNumber = false;
    for (const QChar c : text) {
        if (kind.size() >= 300) break;
        const bool digit = c.isDigit();
        if (!digit || !inNumber) kind += digit ? QLatin1Char('#') : c;
        inNumber = digit;
    }
    return kind;
}

} // namespace

Diagnostics::Diagnostics(int fd, Clock now) : m_now(std::move(now)), m_fd(fd)
{
    if (!m_now) m_now = [] { return std::chrono::steady_clock::now(); };
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0) return; // closed: there is nobody to tell
    if (S_ISSOCK(st.st_mode)) {
        // The journal's stream: each send is told not to wait, the socket stays as it is.
        m_way = Way::Socket;
    } else if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
        // A pipe or a terminal: each write is told not to wait (RWF_NOWAIT), so
        // that the descriptor shared with other programs stays as it is and no
        // further handle is taken.
        m_way = Way::NoWait;
    } else {
        // A file on disk takes what is written without waiting on anyone.
        m_way = Way::Plain;
    }
}

Diagnostics::~Diagnostics() = default;

void Diagnostics::say(const QString& text)
{
    const std::lock_guard lock(m_mutex);
    const auto now = m_now();
    sayExpired(now, false);
    const QString kind = kindOf(text);
    if (const auto it = m_kinds.find(kind); it != m_kinds.end()) {
        ++it->second.more;
        it->second.last = text;
        return;
    }
    if (m_kinds.size() < kMostKinds) m_kinds.emplace(kind, Kind{now, 0, {}});
    put(text);
}

void Diagnostics::flush()
{
    const std::lock_guard lock(m_mutex);
    sayExpired(m_now(), true);
    if (m_dropped > 0) put(QString()); // says the count alone
}

quint64 Diagnostics::dropped() const
{
    const std::lock_guard lock(m_mutex);
    return m_dropped;
}

void Diagnostics::sayExpired(std::chrono::steady_clock::time_point now, bool all)
{
    for (auto it = m_kinds.begin(); it != m_kinds.end();) {
        if (!all && now - it->second.first < kRepeatPeriod) {
            ++it;
            continue;
        }
        if (it->second.more > 0)
            put(QStringLiteral("%1 [%2 more like this in the last minute]")
                    .arg(it->second.last)
                    .arg(it->second.more));
        it = m_kinds.erase(it);
    }
}

bool Diagnostics::put(const QString& text)
{
    if (m_dropped > 0) {
        if (!write(QStringLiteral("%1 lines dropped: standard error was not read").arg(m_dropped).toUtf8())) {
            if (!text.isEmpty()) ++m_dropped;
            return false;
        }
        m_dropped = 0;
    }
    if (text.isEmpty()) return true;
    QByteArray bytes = text.toLocal8Bit();
    if (bytes.size() > kLongestLine) bytes = bytes.left(kLongestLine) + "...";
    if (write(bytes)) return true;
    ++m_dropped;
    return false;
}

bool Diagnostics::write(const QByteArray& line)
{
    if (m_way == Way::Closed) return true;
    const QByteArray bytes = (m_lineOpen ? QByteArray("\n") : QByteArray()) + line + '\n';
    const int fd = m_fd;
    qsizetype done = 0;
    // A pipe takes up to 4096 bytes whole or not at all; elsewhere the rest is tried once more.
    for (int attempt = 0; attempt < 2 && done < bytes.size(); ++attempt) {
        ssize_t n = -1;
        const char* from = bytes.constData() + done;
        const size_t size = size_t(bytes.size() - done);
        switch (m_way) {
        case Way::Closed:
            return true;
        case Way::Socket:
            do
                n = ::send(fd, from, size, MSG_DONTWAIT | MSG_NOSIGNAL);
            while (n < 0 && errno == EINTR);
            break;
        case Way::NoWait: {
            const iovec part{const_cast<char*>(from), size};
            do
                n = ::pwritev2(fd, &part, 1, -1, RWF_NOWAIT);
            while (n < 0 && errno == EINTR);
            if (n >= 0 || errno != EOPNOTSUPP) break;
            // A kernel or a device that cannot: asked whether there is room first.
            m_way = Way::Polled;
            [[fallthrough]];
        }
        case Way::Polled: {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT)) break;
            [[fallthrough]];
        }
        case Way::Plain:
            do
                n = ::write(fd, from, size);
            while (n < 0 && errno == EINTR);
            break;
        }
        if (n <= 0) break;
        done += n;
    }
    if (done == 0) return false;
    m_lineOpen = done < bytes.size();
    return !m_lineOpen;
}

Diagnostics& diagnostics()
{
    static Diagnostics* const instance = new Diagnostics(STDERR_FILENO);
    return *instance;
}

namespace {
void (*g_beforeFatal)() = nullptr;

void qtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString line = qFormatLogMessage(type, context, message);
    if (!line.isEmpty()) diagnostics().say(line);
    if (type == QtFatalMsg) {
        diagnostics().flush();
        if (g_beforeFatal) g_beforeFatal();
    }
}
} // namespace

void routeQtMessages(void (*beforeFatal)())
{
    g_beforeFatal = beforeFatal;
    qInstallMessageHandler(qtMessage);
}

void occupyStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is this one.
        const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
}

} // namespace kestra
