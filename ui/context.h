#pragma once

#include "common/buildconfig.h"
#include "common/clock.h"
#include "common/ticker.h"
#include "port/port.h"
#include "store/database.h"

namespace kestra::ui {

// What every window is given: the build's constants, the port, the settings
// file and the clock. Tests hand in a fake clock and a temporary directory.
struct AppContext
{
    BuildConfig build;
    port::Port& port;
    store::Database& database;
    const Clock& clock;
    // The one wake-up that serves the periodic timers of all windows; the main
    // window makes it for its windows, a window made on its own makes its own.
    Ticker* ticker = nullptr;

    Ticker& ensureTicker(QObject* owner)
    {
        if (!ticker) ticker = new Ticker(clock, owner);
        return *ticker;
    }
};

} // namespace kestra::ui
