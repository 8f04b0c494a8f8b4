#pragma once

#include "base/buildconfig.h"

#include <QStringList>

namespace kestra::api {

// The first argument that makes a start the command-line client.
inline const QString kCtlCommand = QStringLiteral("ctl");

// Exit codes of `kestra3 ctl`, for scripts.
namespace ctl {
inline constexpr int kOk = 0;
inline constexpr int kRefused = 1;  // the switch answered, and refused (its message is printed)
inline constexpr int kUsage = 2;    // the command line was not understood
inline constexpr int kNoSwitch = 3; // no switch of this build runs for this user, or it cannot be reached
} // namespace ctl

// `kestra3 ctl ARGS`: `arguments` are those after "ctl". Needs a QCoreApplication.
int runCtl(const BuildConfig& build, const QStringList& arguments);

// The same from main(): makes the application object itself.
int runCtl(int argc, char** argv, const BuildConfig& build);

} // namespace kestra::api
