#include "common/paths.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace kestra {

QString programDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Timer");
}

QString ensureProgramDirectory()
{
    const QString dir = programDirectory();
    if (!QDir().mkpath(dir)) return QStringLiteral("Cannot create the program directory %1.").arg(dir);
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return {};
}

QString homeDirectory()
{
    return QDir::homePath();
}

} // namespace kestra
