#pragma once

#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>

namespace kestra {

// What the program says on standard error, written so that nobody reading it
// never holds up the switch: every write returns at once. A line that does not
// fit (a pipe that nobody empties, a terminal held with Ctrl+S) is dropped and
// counted, and "N lines dropped" is said once there is room again. A line of a
// kind already said in the last minute (the same text, numbers aside) is only
// counted; the count is said with the last of them once the minute is over.
// Safe from any thread.
class Diagnostics
{
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr auto kRepeatPeriod = std::chrono::minutes(1);
    // A line is cut here, so that a pipe takes it whole or not at all.
    static constexpr int kLongestLine = 4000;

    // Writes to `fd`, which stays the caller's; `now` tells the minutes of the
    // repeats (the steady clock when empty).
    explicit Diagnostics(int fd, Clock now = {});
    ~Diagnostics();
    Diagnostics(const Diagnostics&) = delete;
    Diagnostics& operator=(const Diagnostics&) = delete;

    // One message: a line, or more lines after each other, without the final newline.
    void say(const QString& text);
    // Says what is held back: the repeats counted so far, the lines dropped.
    void flush();
    quint64 dropped() const;

private:
    struct Kind
    {
        std::chrono::steady_clock::time_point first;
        quint64 more = 0;
        QString last;
    };
    enum class Way { Closed, Plain, Socket, NoWait, Polled };

    void sayExpired(std::chrono::steady_clock::time_point now, bool all);
    bool put(const QString& text);
    bool write(const QByteArray& bytes);

    mutable std::mutex m_mutex;
    Clock m_now;
    int m_fd = -1;
    Way m_way = Way::Closed;
    quint64 m_dropped = 0;
    bool m_lineOpen = false; // a line was cut short by a full pipe
    std::map<QString, Kind> m_kinds;
};

// The program's standard error. Never destroyed, so that threads still
// running at the exit may write.
Diagnostics& diagnostics();

// Qt's messages (qWarning and the like, those of Qt itself too) go through
// diagnostics(). `beforeFatal` runs before a fatal message ends the program.
void routeQtMessages(void (*beforeFatal)() = nullptr);

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so that
// no file, pipe or socket the program opens later takes their place (and is
// written to as standard error). The first thing main() does.
void occupyStandardDescriptors();

} // namespace kestra
