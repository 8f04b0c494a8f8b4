// kestra-slowflush: a disk that takes KESTRA_BENCH_FLUSH_MS (15 by default) to
// flush, for the benchmark's program alone: fsync and fdatasync sleep that long,
// then do their work. Loaded with LD_PRELOAD; never part of the program.
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <unistd.h>

namespace {
void pauseForFlush()
{
    const char* text = std::getenv("KESTRA_BENCH_FLUSH_MS");
    const long ms = text ? std::atol(text) : 15;
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0) {
    }
}

template <typename F> F real(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
} // namespace

extern "C" int fsync(int fd)
{
    static const auto next = real<int (*)(int)>("fsync");
    pauseForFlush();
    return next(fd);
}

extern "C" int fdatasync(int fd)
{
    static const auto next = real<int (*)(int)>("fdatasync");
    pauseForFlush();
    return next(fd);
}
