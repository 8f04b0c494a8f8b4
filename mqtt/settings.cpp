#include "mqtt/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QSysInfo>

namespace kestra::mqtt {

namespace {
QSettings placementFile(const QString& title)
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, title);
}

QString outputKey(int output, const char* what)
{
    return QStringLiteral("Output%1%2").arg(output).arg(QLatin1String(what));
}

bool readFlag(const QSettings& s, const QString& key, bool fallback)
{
    const QString text = s.value(key).toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1")) return true;
    if (text == QLatin1String("false") || text == QLatin1String("0")) return false;
    return fallback;
}

QString readText(const QSettings& s, const QString& key, const QString& fallback)
{
    const QVariant v = s.value(key);
    return v.isValid() ? v.toString() : fallback;
}
} // namespace

QString sanitizeName(const QString& text)
{
    QString out = text.toLower();
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        const bool kept = (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'_' || u == u'-';
        if (!kept) c = QLatin1Char('-');
    }
    return out;
}

QString defaultName(const QString& title)
{
    return sanitizeName(title + QLatin1Char('-') + QSysInfo::machineHostName());
}

QString defaultName(const BuildConfig& build)
{
    return defaultName(build.title);
}

QString cleanTopicPrefix(const QString& text, const QString& fallback)
{
    QString t = text.trimmed();
    while (t.startsWith(QLatin1Char('/')))
        t.remove(0, 1);
    while (t.endsWith(QLatin1Char('/')))
        t.chop(1);
    const bool usable = !t.isEmpty() && !t.contains(QLatin1Char('+')) && !t.contains(QLatin1Char('#')) &&
                        !t.contains(QChar(0)) && !t.contains(QLatin1String("//"));
    return usable ? t : fallback;
}

Settings Settings::load(const QString& title)
{
    QSettings s = placementFile(title);
    s.beginGroup(QStringLiteral("MQTT"));
    Settings r;
    r.enabled = readFlag(s, QStringLiteral("Enabled"), r.enabled);
    r.host = readText(s, QStringLiteral("Host"), r.host).trimmed();
    if (r.host.isEmpty()) r.host = Settings().host;
    r.tls = readFlag(s, QStringLiteral("Tls"), r.tls);
    bool ok = false;
    const int port = s.value(QStringLiteral("Port")).toString().trimmed().toInt(&ok);
    r.port = ok && port > 0 && port <= 65535 ? port : (r.tls ? kTlsPort : kPlainPort);
    r.caFile = readText(s, QStringLiteral("CaFile"), r.caFile).trimmed();
    r.username = readText(s, QStringLiteral("Username"), r.username);
    r.password = readText(s, QStringLiteral("Password"), r.password);
    r.name = sanitizeName(readText(s, QStringLiteral("Name"), QString()).trimmed());
    if (r.name.isEmpty()) r.name = defaultName(title);
    r.baseTopic = cleanTopicPrefix(readText(s, QStringLiteral("BaseTopic"), r.baseTopic), r.baseTopic);
    r.discovery = readFlag(s, QStringLiteral("Discovery"), r.discovery);
    r.discoveryPrefix = cleanTopicPrefix(readText(s, QStringLiteral("DiscoveryPrefix"), r.discoveryPrefix),
                                         r.discoveryPrefix);
    for (int m = 1; m <= kOutputs; ++m) {
        OutputTarget& t = r.outputs[m - 1];
        t.topic = readText(s, outputKey(m, "Topic"), t.topic).trimmed();
        t.on = readText(s, outputKey(m, "On"), t.on);
        t.off = readText(s, outputKey(m, "Off"), t.off);
    }
    return r;
}

void Settings::save(const QString& title) const
{
    QSettings s = placementFile(title);
    // QSettings replaces the file with one that keeps the old file's mode; a
    // new file would take the umask's, so it is made here, private, first.
    const QString path = s.fileName();
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!QFileInfo::exists(path)) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) f.close();
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    // An empty lock left by a killed start would hold QSettings up (see shell/placement.cpp).
    QLockFile lock(path + QStringLiteral(".lock"));
    qint64 pid = 0;
    QString lockHost, lockApp;
    if (QFileInfo::exists(path + QStringLiteral(".lock")) && !lock.getLockInfo(&pid, &lockHost, &lockApp))
        QFile::remove(path + QStringLiteral(".lock"));

    const auto flag = [](bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); };
    s.beginGroup(QStringLiteral("MQTT"));
    s.setValue(QStringLiteral("Enabled"), flag(enabled));
    s.setValue(QStringLiteral("Host"), host);
    s.setValue(QStringLiteral("Port"), QString::number(port));
    s.setValue(QStringLiteral("Tls"), flag(tls));
    s.setValue(QStringLiteral("CaFile"), caFile);
    s.setValue(QStringLiteral("Username"), username);
    s.setValue(QStringLiteral("Password"), password);
    s.setValue(QStringLiteral("Name"), name);
    s.setValue(QStringLiteral("BaseTopic"), baseTopic);
    s.setValue(QStringLiteral("Discovery"), flag(discovery));
    s.setValue(QStringLiteral("DiscoveryPrefix"), discoveryPrefix);
    for (int m = 1; m <= kOutputs; ++m) {
        const OutputTarget& t = outputs[m - 1];
        s.setValue(outputKey(m, "Topic"), t.topic);
        s.setValue(outputKey(m, "On"), t.on);
        s.setValue(outputKey(m, "Off"), t.off);
    }
    s.endGroup();
    s.sync();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace kestra::mqtt
