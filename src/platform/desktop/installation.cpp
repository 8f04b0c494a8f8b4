#include "platform/desktop/installation.h"

#include <QDir>
#include <QFileInfo>

namespace kestra::desktop {

QString desktopId(const BuildConfig& build)
{
    return QStringLiteral("net.kestra.") + build.title.toLower();
}

QString installedDataFile(const QString& programDirectory, const QString& name)
{
    const QString path = QDir::cleanPath(programDirectory + QStringLiteral("/../share/kestra/") + name);
    return QFileInfo(path).isFile() ? path : QString();
}

} // namespace kestra::desktop
