#pragma once

#include "base/buildconfig.h"

namespace kestra::shell {

// The whole program for one build: from the splash to the last window.
int run(int argc, char** argv, const BuildConfig& build);

} // namespace kestra::shell
