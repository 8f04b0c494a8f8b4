#pragma once

// What the benchmark programs share: a line out at once, the figures of a
// sample, the CPU a process has used, and a thread that watches one bit of the
// simulated port file the way a relay board would.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestra::bench {

inline void say(const QString& text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

// "min 5.8, median 6.4, p95 7.6, max 7.6 (20)"
inline QString summary(std::vector<double> v)
{
    if (v.empty()) return QStringLiteral("no sample");
    std::sort(v.begin(), v.end());
    return QStringLiteral("min %1, median %2, p95 %3, max %4 (%5)")
        .arg(v.front(), 0, 'f', 1)
        .arg(v[v.size() / 2], 0, 'f', 1)
        .arg(v[std::min(v.size() - 1, (v.size() * 95 + 99) / 100 - 1)], 0, 'f', 1)
        .arg(v.back(), 0, 'f', 1)
        .arg(v.size());
}

// utime + stime of a process, in clock ticks; -1 when it cannot be read.
inline long long cpuTicks(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray s = f.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}

inline qint64 nanoseconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}
inline qint64 monotonicNs() { return nanoseconds(CLOCK_MONOTONIC); }
inline qint64 realNs() { return nanoseconds(CLOCK_REALTIME); }

// Reads one bit of the port file's data byte every ~0.1 ms and notes when it
// changes, by the clock given (monotonicNs or realNs).
class PortWatch
{
public:
    PortWatch(const QString& path, int bit, qint64 (*now)())
        : m_path(path.toLocal8Bit()), m_mask(1 << bit), m_now(now)
    {}
    ~PortWatch() { stop(); }

    void start()
    {
        m_thread = std::thread([this] { run(); });
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    // Times (ns) of every change since the last take.
    std::vector<qint64> take()
    {
        std::lock_guard lock(m_mutex);
        std::vector<qint64> out;
        out.swap(m_changes);
        return out;
    }
    qsizetype pending()
    {
        std::lock_guard lock(m_mutex);
        return qsizetype(m_changes.size());
    }

private:
    void run()
    {
        int last = -1;
        const timespec nap{0, 100000};
        while (!m_stop) {
            const int fd = ::open(m_path.constData(), O_RDONLY);
            unsigned char byte = 0;
            if (fd >= 0) {
                const bool read = ::pread(fd, &byte, 1, 0) == 1;
                const qint64 t = m_now();
                ::close(fd);
                const int v = (byte & m_mask) ? 1 : 0;
                if (read && v != last) {
                    if (last >= 0) {
                        std::lock_guard lock(m_mutex);
                        m_changes.push_back(t);
                    }
                    last = v;
                }
            }
            nanosleep(&nap, nullptr);
        }
    }

    QByteArray m_path;
    int m_mask;
    qint64 (*m_now)();
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<qint64> m_changes;
};

} // namespace kestra::bench
