#pragma once

#include "base/buildconfig.h"
#include "base/clock.h"
#include "platform/port/port.h"
#include "storage/store/database.h"

namespace kestra::model {

// What the switch is built on: the build's constants, the port, the settings
// file and the clock. Tests hand in a fake clock and a temporary directory.
struct Context
{
    BuildConfig build;
    port::Port& port;
    store::Database& database;
    const Clock& clock;
};

} // namespace kestra::model
