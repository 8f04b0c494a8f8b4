#include "base/paths.h"

#include "base/errnotext.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace kestra {

namespace {

// Makes every missing directory of an absolute path; 0, or the errno of the step
// that failed (a file in the way gives ENOTDIR), so that the cause can be named.
int makePath(const QByteArray& path)
{
    for (qsizetype end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/') continue;
        if (::mkdir(path.left(end).constData(), 0777) != 0 && errno != EEXIST) return errno;
    }
    struct stat st
    {
    };
    if (::stat(path.constData(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

} // namespace

QString programDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Timer");
}

QString homeProblem()
{
    // Without a home (env -i, HOME= in a unit file) the directories would be
    // made below the root directory: /.local/share/Timer with a new database.
    const auto absolute = [](const char* name) {
        const QByteArray v = qgetenv(name);
        return !v.isEmpty() && v.startsWith('/');
    };
    if (absolute("HOME") || (absolute("XDG_DATA_HOME") && absolute("XDG_CONFIG_HOME"))) return {};
    return QStringLiteral("HOME is %1: the program does not know where its files are. Start it with HOME "
                          "set to your home directory (or XDG_DATA_HOME and XDG_CONFIG_HOME to absolute "
                          "paths).")
        .arg(qEnvironmentVariableIsSet("HOME") ? QStringLiteral("\"%1\"").arg(qEnvironmentVariable("HOME"))
                                               : QStringLiteral("not set"));
}

QString ensureProgramDirectory()
{
    if (QString problem = homeProblem(); !problem.isEmpty()) return problem;
    const QString dir = programDirectory();
    const QByteArray path = QFile::encodeName(dir);
    if (const int err = makePath(path))
        return QStringLiteral("Cannot create the program directory %1: %2.").arg(dir, errnoText(err));
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // A directory that cannot take the lock and the database would otherwise be
    // blamed on the lock, as if another instance held it.
    if (::access(path.constData(), W_OK | X_OK) != 0)
        return QStringLiteral("The program directory %1 cannot be written: %2.").arg(dir, errnoText(errno));
    return {};
}

QString homeDirectory()
{
    return QDir::homePath();
}

} // namespace kestra
