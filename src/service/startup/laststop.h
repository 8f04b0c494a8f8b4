#pragma once

#include <functional>

namespace kestra::shell {

// The stop of the running switch for an end that does not come through the
// event loop: a window library that lost its display (the X server died, the
// Wayland compositor went away) calls exit(), a fatal message aborts. The
// outputs go OFF and the records are saved before the process goes, as a
// signal would have it. Held while the switch runs; one at a time.
class LastStop
{
public:
    explicit LastStop(std::function<void()> stop);
    ~LastStop();
    LastStop(const LastStop&) = delete;
    LastStop& operator=(const LastStop&) = delete;

    // Runs the stop held, once; nothing when none is held.
    static void run();
};

} // namespace kestra::shell
