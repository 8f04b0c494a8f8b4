#include "client/endpoint.h"

#include "base/errnotext.h"
#include "base/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSettings>
#include <cerrno>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestra::api {

quint16 defaultPort(const BuildConfig& build)
{
    return quint16(20000 + build.portBase);
}

quint16 configuredPort(const BuildConfig& build)
{
    const QSettings s(QSettings::IniFormat, QSettings::UserScope, build.title);
    bool ok = false;
    const int port = s.value(QStringLiteral("Api/Port")).toInt(&ok);
    return ok && port >= 0 && port <= 65535 ? quint16(port) : defaultPort(build);
}

QString runtimeDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime)) return runtime + QStringLiteral("/kestra");
    return programDirectory() + QStringLiteral("/run");
}

QString endpointPath(const BuildConfig& build)
{
    return runtimeDirectory() + QLatin1Char('/') + build.title.toLower() + QStringLiteral("-api.json");
}

std::optional<Endpoint> readEndpoint(const BuildConfig& build, QString* why)
{
    const QString path = endpointPath(build);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (why) *why = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QJsonObject o = QJsonDocument::fromJson(file.read(4096)).object();
    Endpoint e;
    e.port = quint16(o.value(QStringLiteral("port")).toInt());
    e.pid = qint64(o.value(QStringLiteral("pid")).toDouble());
    e.token = o.value(QStringLiteral("token")).toString().toLatin1();
    if (e.port == 0 || e.token.isEmpty()) {
        if (why) *why = QStringLiteral("%1 does not name a port and a token").arg(path);
        return std::nullopt;
    }
    return e;
}

QString writeEndpoint(const BuildConfig& build, const Endpoint& endpoint)
{
    const QString dir = runtimeDirectory();
    if (!QDir().mkpath(dir)) return QStringLiteral("%1 cannot be made").arg(dir);
    // Private whatever the umask; a directory someone else owns is not used.
    struct stat st
    {
    };
    const QByteArray dirName = QFile::encodeName(dir);
    if (::stat(dirName.constData(), &st) != 0) return QStringLiteral("%1: %2").arg(dir, errnoText(errno));
    if (st.st_uid != ::getuid()) return QStringLiteral("%1 belongs to another user").arg(dir);
    if ((st.st_mode & 0777) != 0700 && ::chmod(dirName.constData(), 0700) != 0)
        return QStringLiteral("%1: %2").arg(dir, errnoText(errno));

    QJsonObject o;
    o.insert(QStringLiteral("api"), kVersion);
    o.insert(QStringLiteral("port"), endpoint.port);
    o.insert(QStringLiteral("pid"), double(endpoint.pid));
    o.insert(QStringLiteral("token"), QString::fromLatin1(endpoint.token));
    QSaveFile file(endpointPath(build));
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    file.write(QJsonDocument(o).toJson(QJsonDocument::Compact));
    file.write("\n");
    if (!file.commit()) return QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
    return {};
}

void removeEndpoint(const BuildConfig& build, qint64 pid)
{
    const std::optional<Endpoint> e = readEndpoint(build);
    if (e && e->pid == pid) QFile::remove(endpointPath(build));
}

QByteArray newToken()
{
    unsigned char bytes[32];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return {};
        }
        got += size_t(n);
    }
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes).toHex();
}

} // namespace kestra::api
