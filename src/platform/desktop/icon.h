#pragma once

#include <QIcon>
#include <QString>

namespace kestra::desktop {

// The program's icon, drawn from its SVG at the sizes window systems ask for.
QIcon programIcon();

// Gives every window of the process the icon, and tells the window system which
// launcher the windows belong to.
void setDesktopIdentity(const QString& desktopId);

} // namespace kestra::desktop
