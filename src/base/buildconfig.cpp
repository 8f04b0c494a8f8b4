#include "base/buildconfig.h"

#include "base/paths.h"

#include <QFileInfo>

namespace kestra {

QString BuildConfig::portText() const
{
    return QString::number(portBase, 16).toUpper();
}

QString BuildConfig::caption() const
{
    return QStringLiteral("%1 (Port %2)").arg(title, portText());
}

QString BuildConfig::simulatedPortFileName() const
{
    return QStringLiteral("port-") + portText();
}

QString BuildConfig::databasePath() const
{
    return programDirectory() + QLatin1Char('/') + databaseFileName;
}

QString BuildConfig::simulatedPortPath() const
{
    return programDirectory() + QLatin1Char('/') + simulatedPortFileName();
}

QString BuildConfig::lockPath() const
{
    return programDirectory() + QLatin1Char('/') + QFileInfo(databaseFileName).completeBaseName() +
           QStringLiteral(".lock");
}

BuildConfig kestra3Config()
{
    return {0x3BC, QStringLiteral("Kestra3.db"), QStringLiteral("KESTRA3")};
}

BuildConfig kestra2Config()
{
    return {0x278, QStringLiteral("Kestra2.db"), QStringLiteral("KESTRA2")};
}

QString versionNumber()
{
    return QStringLiteral("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision);
}

QString versionText()
{
    return QStringLiteral("Version ") + versionNumber();
}

} // namespace kestra
