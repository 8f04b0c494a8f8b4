#include "platform/audio/soundfiles.h"

#include <QDir>
#include <QFileInfo>

namespace kestra::inputs {

QString joinPath(const QString& dir, const QString& name)
{
    if (dir.endsWith(QLatin1Char('/'))) return dir + name;
    return dir + QLatin1Char('/') + name;
}

bool isBareName(const QString& name)
{
    // Dots inside a name ("my..bell.wav") stay in the directory; only a
    // separator or a name that is "." or ".." itself leads elsewhere.
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

QString soundPath(const QString& dir, const QString& name)
{
    return !dir.isEmpty() && isBareName(name) ? joinPath(dir, name) : QString();
}

QStringList matchingFiles(const QString& dir, const QString& pattern)
{
    if (dir.isEmpty()) return {};
    // Without QDir::CaseSensitive the name filter ignores case.
    const QDir d(dir, pattern, QDir::Name | QDir::IgnoreCase, QDir::Files | QDir::Readable);
    return d.entryList();
}

namespace {
bool playable(const QFileInfo& fi)
{
    return fi.isFile() && fi.isReadable();
}
} // namespace

QString findPlayableFile(const QString& path)
{
    if (path.isEmpty()) return {};
    const QFileInfo fi(path);
    if (playable(fi)) return fi.absoluteFilePath();
    if (fi.exists()) return {}; // a directory, a device or an unreadable file
    const QString name = fi.fileName();
    if (name.isEmpty()) return {};
    const QDir dir = fi.absoluteDir();
    const QStringList entries = dir.entryList(QDir::Files | QDir::Readable);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) != 0) continue;
        const QFileInfo candidate(dir.filePath(entry));
        if (playable(candidate)) return candidate.absoluteFilePath();
    }
    return {};
}

} // namespace kestra::inputs
