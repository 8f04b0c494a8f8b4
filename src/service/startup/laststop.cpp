#include "service/startup/laststop.h"

#include "base/diagnostics.h"

#include <cstdlib>

namespace kestra::shell {

namespace {
std::function<void()>* g_stop = nullptr;

extern "C" void atExit()
{
    LastStop::run();
    diagnostics().flush();
}
} // namespace

LastStop::LastStop(std::function<void()> stop)
{
    static const bool registered = std::atexit(atExit) == 0;
    (void)registered;
    delete g_stop;
    g_stop = new std::function<void()>(std::move(stop));
}

LastStop::~LastStop()
{
    delete g_stop;
    g_stop = nullptr;
}

void LastStop::run()
{
    std::function<void()>* stop = g_stop;
    g_stop = nullptr;
    if (!stop) return;
    (*stop)();
    delete stop;
}

} // namespace kestra::shell
