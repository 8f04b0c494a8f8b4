#include "shell/placement.h"

#include <QFile>
#include <QSettings>

namespace kestra::shell {

namespace {
QSettings settingsFor(const QString& title)
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, title);
}

double readValue(QSettings& s, const char* key, double fallback)
{
    const QVariant v = s.value(QLatin1String(key));
    if (!v.isValid()) return fallback;
    bool ok = false;
    const float f = v.toString().trimmed().toFloat(&ok);
    return ok ? double(f) : fallback;
}
} // namespace

Placement readPlacement(const QString& title)
{
    QSettings s = settingsFor(title);
    s.beginGroup(QStringLiteral("Settings"));
    Placement p;
    p.left = readValue(s, "MainLeft", p.left);
    p.top = readValue(s, "MainTop", p.top);
    p.width = readValue(s, "MainWidth", p.width);
    p.height = readValue(s, "MainHeight", p.height);
    return p;
}

void writePlacement(const QString& title, const Placement& p)
{
    QSettings s = settingsFor(title);
    s.beginGroup(QStringLiteral("Settings"));
    s.setValue(QStringLiteral("MainLeft"), placementText(p.left));
    s.setValue(QStringLiteral("MainTop"), placementText(p.top));
    s.setValue(QStringLiteral("MainWidth"), placementText(p.width));
    s.setValue(QStringLiteral("MainHeight"), placementText(p.height));
    s.sync();
    // A file left readable by an older start under a loose umask is made private.
    QFile::setPermissions(s.fileName(), QFile::ReadOwner | QFile::WriteOwner);
}

QString placementText(double value)
{
    return QString::number(float(value), 'g', 7);
}

} // namespace kestra::shell
