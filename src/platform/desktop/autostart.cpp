#include "platform/desktop/autostart.h"

#include "base/failure.h"
#include "platform/desktop/installation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace kestra::desktop {

namespace {
constexpr auto kPrivate = QFile::ReadOwner | QFile::WriteOwner;

Failure fileFailure(const QString& text)
{
    return Failure(failure::kFile, text);
}
} // namespace

AutostartEntry programAutostartEntry(const BuildConfig& build, const QString& executable)
{
    return {desktopId(build), build.title,
            QStringLiteral("Weekly time switch on printer port %1, started at login").arg(build.portText()),
            executable, kIconName};
}

QString autostartDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

QString autostartPath(const QString& id)
{
    return autostartDirectory() + QLatin1Char('/') + id + QStringLiteral(".desktop");
}

QString execValue(const QString& program)
{
    static const QString reserved = QStringLiteral(" \"'\\><~|&;$*?#()`");
    QString arg;
    bool quote = false;
    for (const QChar c : program) {
        if (c.category() == QChar::Other_Control)
            throw fileFailure(
                QStringLiteral("The program's path %1 holds a control character.").arg(program));
        quote = quote || reserved.contains(c);
        // Inside quotes these four take a backslash.
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') arg += u'\\';
        // A lone % would start a field code.
        if (c == u'%') arg += u'%';
        arg += c;
    }
    if (!quote) return arg; // no reserved character: used as it is
    // The value is a string too, whose own escaping doubles every backslash.
    arg.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    return u'"' + arg + u'"';
}

QString autostartEntryText(const AutostartEntry& entry)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=%1\n"
                          "Comment=%2\n"
                          "Exec=%3\n"
                          "Icon=%4\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(entry.name, entry.comment, execValue(entry.executable), entry.icon);
}

bool autostartEnabled(const QString& id)
{
    return QFileInfo::exists(autostartPath(id));
}

void enableAutostart(const AutostartEntry& entry)
{
    const QByteArray text = autostartEntryText(entry).toUtf8();
    const QString dir = autostartDirectory();
    if (!QFileInfo::exists(dir)) {
        if (!QDir().mkpath(dir))
            throw fileFailure(QStringLiteral("Cannot create the directory %1.").arg(dir));
        QFile::setPermissions(dir, kPrivate | QFile::ExeOwner);
    }
    const QString path = autostartPath(entry.id);
    QSaveFile file(path);
    // The new file is made private before anything is in it.
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(kPrivate) ||
        file.write(text) != text.size() || !file.commit())
        throw fileFailure(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

void disableAutostart(const QString& id)
{
    const QString path = autostartPath(id);
    QFile file(path);
    if (file.exists() && !file.remove())
        throw fileFailure(QStringLiteral("Cannot remove %1: %2").arg(path, file.errorString()));
}

} // namespace kestra::desktop
