#include "logic/mqtt/settings.h"

#include "base/timetext.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QLockFile>
#include <QSettings>
#include <QSysInfo>
#include <algorithm>

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

// Reads a flag; an unknown value keeps the fallback and is named in `problem` (the first one only).
bool readFlag(const QSettings& s, const QString& key, bool fallback, QString& problem)
{
    const QVariant v = s.value(key);
    if (!v.isValid()) return fallback;
    if (const std::optional<bool> f = parsePlacementFlag(v.toString())) return *f;
    if (problem.isEmpty())
        problem = QStringLiteral("%1=%2 is neither true nor false (true, yes, on, 1 or false, no, off, 0)")
                      .arg(key, v.toString().left(40));
    return fallback;
}

// A text as a message shows it: control characters escaped, a long one cut.
QString shown(const QString& text)
{
    QString out;
    for (const QChar c : text.left(40)) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return QLatin1Char('"') + out + (text.size() > 40 ? QStringLiteral("...\"") : QStringLiteral("\""));
}

bool hasControl(const QString& text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f) ||
               c.category() == QChar::Other_Control;
    });
}

// Makes the placement file private before anything secret reaches it, and
// clears an empty lock left by a killed start (see shell/placement.cpp).
QString preparePrivateFile(const QSettings& s)
{
    const QString path = s.fileName();
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!QFileInfo::exists(path)) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) f.close();
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    QLockFile lock(path + QStringLiteral(".lock"));
    qint64 pid = 0;
    QString lockHost, lockApp;
    if (QFileInfo::exists(path + QStringLiteral(".lock")) && !lock.getLockInfo(&pid, &lockHost, &lockApp))
        QFile::remove(path + QStringLiteral(".lock"));
    return path;
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

QString hostDefaultName(const QString& title)
{
    return sanitizeName(title + QLatin1Char('-') + QSysInfo::machineHostName());
}

QString defaultName(const QString& title)
{
    const QByteArray id = QSysInfo::machineUniqueId();
    if (id.isEmpty()) return hostDefaultName(title);
    // Hashed, so that the machine id itself never reaches a broker.
    const QByteArray mark =
        QCryptographicHash::hash("kestra-mqtt-name:" + id, QCryptographicHash::Sha256).toHex().left(6);
    return hostDefaultName(title) + QLatin1Char('-') + QString::fromLatin1(mark);
}

QString defaultName(const BuildConfig& build)
{
    return defaultName(build.title);
}

QString cleanTopicPrefix(const QString& text)
{
    QString t = text.trimmed();
    while (t.startsWith(QLatin1Char('/')))
        t.remove(0, 1);
    while (t.endsWith(QLatin1Char('/')))
        t.chop(1);
    return t;
}

QString topicPrefixProblem(const QString& cleaned)
{
    if (cleaned.isEmpty()) return QStringLiteral("it is empty");
    if (cleaned.contains(QLatin1Char('+')) || cleaned.contains(QLatin1Char('#')))
        return QStringLiteral("it holds a wildcard (+ or #), which no topic may");
    if (cleaned.startsWith(QLatin1Char('$')))
        return QStringLiteral("it begins with $, which marks the broker's own topics ($SYS)");
    if (hasControl(cleaned)) return QStringLiteral("it holds a control character or a line break");
    if (cleaned.contains(QLatin1String("//"))) return QStringLiteral("it has an empty level (//)");
    if (cleaned.toUtf8().size() > kMaxPrefixBytes)
        return QStringLiteral("it is longer than %1 bytes").arg(kMaxPrefixBytes);
    return {};
}

QString nameProblem(const QString& trimmed)
{
    if (trimmed.isEmpty()) return {};
    if (trimmed.contains(QLatin1Char('+')) || trimmed.contains(QLatin1Char('#')))
        return QStringLiteral("it holds a wildcard (+ or #)");
    if (hasControl(trimmed)) return QStringLiteral("it holds a control character or a line break");
    if (trimmed.size() > kMaxNameChars)
        return QStringLiteral("it is longer than %1 characters").arg(kMaxNameChars);
    const QString clean = sanitizeName(trimmed);
    const bool named = std::any_of(clean.begin(), clean.end(), [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
               (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
    });
    if (!named) return QStringLiteral("it has no letter a-z or digit");
    return {};
}

QString hostProblem(const QString& trimmed)
{
    if (hasControl(trimmed)) return QStringLiteral("it holds a control character or a line break");
    if (std::any_of(trimmed.begin(), trimmed.end(), [](QChar c) { return c.isSpace(); }))
        return QStringLiteral("it holds a blank");
    // "mqtt://broker:1883" pasted from a broker's page.
    if (trimmed.contains(QLatin1Char('/')))
        return QStringLiteral("it holds a /: give the host name or address alone, without mqtt:// or a path");
    if (trimmed.size() > kMaxHostChars)
        return QStringLiteral("it is longer than %1 characters").arg(kMaxHostChars);
    return {};
}

namespace {
// The problem of a Host that cannot be used, in the words of the other settings' faults; empty when it can.
QString hostFault(const QString& host)
{
    const QString bad = hostProblem(host);
    return bad.isEmpty() ? QString() : QStringLiteral("the Host %1 cannot be used: %2").arg(shown(host), bad);
}
} // namespace

std::optional<bool> parsePlacementFlag(const QString& text)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("yes") || t == QLatin1String("on")) return true;
    if (t == QLatin1String("no") || t == QLatin1String("off")) return false;
    return tryParseFlag(t);
}

void takeNames(Settings& s, const QString& name, const QString& baseTopic, const QString& discoveryPrefix,
               const QString& defaultName)
{
    const QString n = name.trimmed();
    const QString base = cleanTopicPrefix(baseTopic);
    const QString prefix = cleanTopicPrefix(discoveryPrefix);
    const QString badName = nameProblem(n), badBase = topicPrefixProblem(base),
                  badPrefix = topicPrefixProblem(prefix);
    // What cannot work is kept as typed, for the window to show.
    s.name = badName.isEmpty() ? sanitizeName(n) : n;
    if (s.name.isEmpty()) s.name = defaultName;
    s.baseTopic = badBase.isEmpty() ? base : baseTopic;
    s.discoveryPrefix = badPrefix.isEmpty() ? prefix : discoveryPrefix;
    if (!s.problem.isEmpty()) return;
    if (!badName.isEmpty())
        s.problem = QStringLiteral("the Name %1 cannot be used: %2").arg(shown(n), badName);
    else if (!badBase.isEmpty())
        s.problem = QStringLiteral("the BaseTopic %1 cannot be used: %2").arg(shown(baseTopic), badBase);
    else if (!badPrefix.isEmpty())
        s.problem = QStringLiteral("the DiscoveryPrefix %1 cannot be used: %2")
                        .arg(shown(discoveryPrefix), badPrefix);
}

Settings takeTyped(const Settings& typed, const QString& defaultName)
{
    Settings s = typed;
    const QString host = typed.host.trimmed();
    s.host = host.isEmpty() ? Settings().host : host;
    s.problem = hostFault(host);
    s.caFile = typed.caFile.trimmed();
    takeNames(s, typed.name, typed.baseTopic, typed.discoveryPrefix, defaultName);
    for (OutputTarget& t : s.outputs)
        t.topic = t.topic.trimmed();
    return s;
}

QJsonObject settingsJson(const Settings& s)
{
    QJsonArray outputs;
    for (int n = 1; n <= kOutputs; ++n) {
        const OutputTarget& t = s.outputs[size_t(n - 1)];
        outputs.append(QJsonObject{{QStringLiteral("output"), n},
                                   {QStringLiteral("topic"), t.topic},
                                   {QStringLiteral("on"), t.on},
                                   {QStringLiteral("off"), t.off}});
    }
    return {{QStringLiteral("enabled"), s.enabled},
            {QStringLiteral("host"), s.host},
            {QStringLiteral("port"), s.port},
            {QStringLiteral("tls"), s.tls},
            {QStringLiteral("caFile"), s.caFile},
            {QStringLiteral("username"), s.username},
            {QStringLiteral("name"), s.name},
            {QStringLiteral("baseTopic"), s.baseTopic},
            {QStringLiteral("discovery"), s.discovery},
            {QStringLiteral("discoveryPrefix"), s.discoveryPrefix},
            {QStringLiteral("outputs"), outputs}};
}

Settings settingsOfJson(const QJsonObject& o)
{
    const auto text = [&o](const char* key, const QString& fallback) {
        return o.value(QLatin1String(key)).toString(fallback);
    };
    Settings s;
    s.enabled = o.value(QStringLiteral("enabled")).toBool(s.enabled);
    s.host = text("host", s.host);
    s.port = o.value(QStringLiteral("port")).toInt(s.port);
    s.tls = o.value(QStringLiteral("tls")).toBool(s.tls);
    s.caFile = text("caFile", s.caFile);
    s.username = text("username", s.username);
    s.name = text("name", s.name);
    s.baseTopic = text("baseTopic", s.baseTopic);
    s.discovery = o.value(QStringLiteral("discovery")).toBool(s.discovery);
    s.discoveryPrefix = text("discoveryPrefix", s.discoveryPrefix);
    for (const QJsonValue& v : o.value(QStringLiteral("outputs")).toArray()) {
        const QJsonObject t = v.toObject();
        const int n = t.value(QStringLiteral("output")).toInt();
        if (n < 1 || n > kOutputs) continue;
        OutputTarget& target = s.outputs[size_t(n - 1)];
        target.topic = t.value(QStringLiteral("topic")).toString(target.topic);
        target.on = t.value(QStringLiteral("on")).toString(target.on);
        target.off = t.value(QStringLiteral("off")).toString(target.off);
    }
    return s;
}

QString notSavedText(const QString& problem)
{
    return QStringLiteral("Not saved: %1.").arg(problem);
}

QString keptPasswordProblem(const Settings& stored, const Settings& typed)
{
    if (stored.password.isEmpty()) return {};
    if (stored.host == typed.host && stored.port == typed.port && stored.tls == typed.tls &&
        stored.caFile == typed.caFile)
        return {};
    return QStringLiteral("the stored password goes only to the broker it was given for: type it again for "
                          "another host, port, TLS or CA file");
}

Settings Settings::load(const QString& title)
{
    QSettings s = placementFile(title);
    s.beginGroup(QStringLiteral("MQTT"));
    Settings r;
    r.enabled = readFlag(s, QStringLiteral("Enabled"), r.enabled, r.problem);
    r.host = readText(s, QStringLiteral("Host"), r.host).trimmed();
    if (r.host.isEmpty()) r.host = Settings().host;
    if (r.problem.isEmpty()) r.problem = hostFault(r.host);
    // TLS asked for in words this file does not know is a problem: no connection, never plain text.
    r.tls = readFlag(s, QStringLiteral("Tls"), r.tls, r.problem);
    bool ok = false;
    const int port = s.value(QStringLiteral("Port")).toString().trimmed().toInt(&ok);
    r.port = ok && port > 0 && port <= 65535 ? port : (r.tls ? kTlsPort : kPlainPort);
    r.caFile = readText(s, QStringLiteral("CaFile"), r.caFile).trimmed();
    r.username = readText(s, QStringLiteral("Username"), r.username);
    r.password = readText(s, QStringLiteral("Password"), r.password);
    r.discovery = readFlag(s, QStringLiteral("Discovery"), r.discovery, r.problem);
    // A file of an earlier version that has settings but no Name keeps the
    // name it has been known by on the broker; the machine's mark is for new ones.
    const QString fallbackName = s.childKeys().isEmpty() ? defaultName(title) : hostDefaultName(title);
    takeNames(r, readText(s, QStringLiteral("Name"), QString()),
              readText(s, QStringLiteral("BaseTopic"), r.baseTopic),
              readText(s, QStringLiteral("DiscoveryPrefix"), r.discoveryPrefix), fallbackName);
    for (int m = 1; m <= kOutputs; ++m) {
        OutputTarget& t = r.outputs[m - 1];
        t.topic = readText(s, outputKey(m, "Topic"), t.topic).trimmed();
        t.on = readText(s, outputKey(m, "On"), t.on);
        t.off = readText(s, outputKey(m, "Off"), t.off);
    }
    return r;
}

QString Settings::save(const QString& title) const
{
    QSettings s = placementFile(title);
    // QSettings replaces the file with one that keeps the old file's mode; a
    // new file would take the umask's, so it is made here, private, first.
    const QString path = preparePrivateFile(s);

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
    if (s.status() != QSettings::NoError) return QStringLiteral("%1 cannot be written").arg(path);
    return {};
}

} // namespace kestra::mqtt

namespace kestra::mqtt {

Announced Announced::load(const QString& title)
{
    QSettings s = placementFile(title);
    s.beginGroup(QStringLiteral("MQTT"));
    Announced a;
    a.known = s.contains(QStringLiteral("AnnouncedAvailability"));
    a.discoveryTopic = readText(s, QStringLiteral("AnnouncedDiscovery"), QString());
    a.availabilityTopic = readText(s, QStringLiteral("AnnouncedAvailability"), QString());
    return a;
}

void Announced::save(const QString& title) const
{
    QSettings s = placementFile(title);
    const QString path = preparePrivateFile(s);
    s.beginGroup(QStringLiteral("MQTT"));
    s.setValue(QStringLiteral("AnnouncedDiscovery"), discoveryTopic);
    s.setValue(QStringLiteral("AnnouncedAvailability"), availabilityTopic);
    s.endGroup();
    s.sync();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace kestra::mqtt
