#pragma once

#include <QString>
#include <vector>

class QThread;

namespace kestra {

// Open files the program is made for. On its own it holds about 15 at once (the
// standard streams, the signal pair, the wake-ups of two threads, the lock, the
// settings database, the history with its WAL and shared memory); a desktop
// session adds the display, D-Bus, fonts and audio, the history window a
// reader, a file dialog its watchers: some 40 at most. 256 is room for all of
// that several times over.
inline constexpr int kFileHandlesWanted = 256;

// Fewer than this and the program cannot come up with its port at all (the
// event loop, the signal pair, the lock, the settings database and one handle
// for the port file): it says so and ends, rather than abort in the middle.
inline constexpr int kFileHandlesMinimum = 9;

// Raises the soft limit of open files to the hard limit when it is below
// kFileHandlesWanted, though not beyond FD_SETSIZE (1024). Where the hard limit
// keeps it lower it says so on standard error, starting with the title, and
// returns false when the program cannot run at all.
bool raiseFileHandleLimit(const QString& title);

// The system's reason ("Too many open files") when the process cannot open
// `needed` more files right now, else `otherwise`: a failure to open is then
// not the file's fault. A library that gives back what it had opened before it
// failed (SQLite with its database, log and shared memory) leaves a handle or two
// free behind it: ask for as many as it needed.
QString fileHandleShortageOr(const QString& otherwise, int needed = 1);

// Starts the thread and returns once its event loop has its wake-up handle.
// The event loop aborts the whole program when it finds no handle for one, so
// a thread must have taken it before anything else may take the last handles.
void startWithWakeUp(QThread& thread);

// Keeps handles free for the port and the windows while the history opens its
// files: it takes up to `wanted`, but never the last `spare`, which a thread
// needs for its wake-up (the event loop aborts without one). With too few
// handles the history fails (and says so) instead of the port.
class FileHandleReserve
{
public:
    // The port's file and the copy that puts it back, the placement's lock and new
    // file at the end, a message box's image plugin, and one more.
    static constexpr int kReserved = 6;

    explicit FileHandleReserve(int wanted = kReserved, int spare = 2);
    ~FileHandleReserve() { release(); }
    FileHandleReserve(const FileHandleReserve&) = delete;
    FileHandleReserve& operator=(const FileHandleReserve&) = delete;

    // Empty, or why nothing more can be opened: not a single handle was free.
    QString problem() const { return m_problem; }
    void release();

private:
    std::vector<int> m_fds;
    QString m_problem;
};

} // namespace kestra
