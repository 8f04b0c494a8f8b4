#pragma once

#include "base/buildconfig.h"

#include <QString>

namespace kestra::desktop {

// Names the desktop knows the programs by: launcher, autostart entry, icon.
inline const QString kPanelId = QStringLiteral("net.kestra.panel");
inline const QString kIconName = QStringLiteral("net.kestra.kestra");
// "net.kestra.kestra3"
QString desktopId(const BuildConfig& build);

// A file installed with the programs: <prefix>/share/kestra/<name> beside
// <prefix>/bin. Empty when the program does not run from such an installation
// (the build tree, for one).
QString installedDataFile(const QString& programDirectory, const QString& name);

} // namespace kestra::desktop
