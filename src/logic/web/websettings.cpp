#include "logic/web/websettings.h"

#include <QFile>
#include <QHostAddress>
#include <QSettings>

namespace kestra::web {

namespace {

QSettings placement(const BuildConfig& build)
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, build.title);
}

// A PEM file of the user's, read whole; an empty text and the reason when it cannot be.
QByteArray readPem(const QString& path, const char* what, QString* why)
{
    QFile f(path);
    if (path.isEmpty()) {
        *why = QStringLiteral("no %1 file is named (Web/%2)").arg(QLatin1String(what),
                                                                  QLatin1String(qstrcmp(what, "key") ? "Certificate" : "Key"));
        return {};
    }
    if (!f.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("the %1 file %2 cannot be read: %3").arg(QLatin1String(what), path, f.errorString());
        return {};
    }
    const QByteArray pem = f.read(1024 * 1024);
    if (!pem.contains("-----BEGIN")) *why = QStringLiteral("the %1 file %2 is no PEM file").arg(QLatin1String(what), path);
    return pem;
}

} // namespace

WebSettings readWebSettings(const BuildConfig& build)
{
    QSettings s = placement(build);
    s.beginGroup(QStringLiteral("Web"));
    WebSettings w;
    w.passwordHash = s.value(QStringLiteral("PasswordHash")).toString();
    w.address = s.value(QStringLiteral("Address"), w.address).toString().trimmed();
    w.port = s.value(QStringLiteral("Port"), 0).toInt();
    w.names = s.value(QStringLiteral("Names")).toStringList();
    w.certificate = s.value(QStringLiteral("Certificate")).toString();
    w.key = s.value(QStringLiteral("Key")).toString();
    return w;
}

QString storePasswordHash(const BuildConfig& build, const QString& hash)
{
    QSettings s = placement(build);
    if (hash.isEmpty())
        s.remove(QStringLiteral("Web/PasswordHash"));
    else
        s.setValue(QStringLiteral("Web/PasswordHash"), hash);
    s.sync();
    if (s.status() != QSettings::NoError) return QStringLiteral("%1 cannot be written").arg(s.fileName());
    // Private whatever the umask, as every file of the program.
    QFile::setPermissions(s.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return {};
}

bool isLoopback(const QString& address)
{
    const QHostAddress a(address);
    return !a.isNull() && a.isLoopback();
}

Listening decideListening(const WebSettings& settings, quint16 apiPort)
{
    Listening l;
    l.port = settings.port > 0 && settings.port <= 65535 ? quint16(settings.port) : quint16(apiPort + 1);
    if (settings.wantsTls()) {
        QString why;
        QByteArray cert = readPem(settings.certificate, "certificate", &why);
        QByteArray key = why.isEmpty() ? readPem(settings.key, "key", &why) : QByteArray();
        if (why.isEmpty()) {
            l.certificate = cert;
            l.key = key;
        } else
            l.refusal = QStringLiteral("TLS is not used: %1; the page is offered on 127.0.0.1 only").arg(why);
    }
    const QString wanted = settings.address.isEmpty() ? QStringLiteral("127.0.0.1") : settings.address;
    if (!l.refusal.isEmpty()) return l;
    if (isLoopback(wanted)) {
        // TLS on the loopback too, when asked for: a second server on its own port.
        if (l.tls()) l.address = wanted;
        return l;
    }
    if (QHostAddress(wanted).isNull() || QHostAddress(wanted).protocol() != QAbstractSocket::IPv4Protocol) {
        l.refusal = QStringLiteral("Web/Address %1 is no IPv4 address; the page is offered on 127.0.0.1 only").arg(wanted);
        return l;
    }
    if (settings.passwordHash.isEmpty()) {
        l.refusal = QStringLiteral("the page is offered on %1 only once a password is set (kestra3 ctl password); "
                                   "on 127.0.0.1 until then")
                        .arg(wanted);
        return l;
    }
    l.address = wanted;
    if (!l.tls())
        l.warning = QStringLiteral("The switch can be reached from the network on %1 without TLS: passwords and "
                                   "cookies cross it in the clear. Name a certificate and key (Web/Certificate, Web/Key).")
                        .arg(wanted);
    return l;
}

} // namespace kestra::web
