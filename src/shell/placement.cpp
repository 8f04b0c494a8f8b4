#include "shell/placement.h"

#include <QFile>
#include <QLockFile>
#include <QSettings>
#include <algorithm>
#include <cmath>

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
    return ok && std::isfinite(f) ? double(f) : fallback;
}

// QSettings guards its file with "<file>.lock" and waits for it without end. A
// program killed between making that file and writing its pid into it leaves an
// empty one, which QLockFile takes for a live lock for half a minute: the next
// shutdown would hang on it. Only this build's one instance writes this file, so
// a lock that names no process is a leftover.
void removeBrokenLock(const QString& settingsFile)
{
    const QString path = settingsFile + QStringLiteral(".lock");
    if (!QFile::exists(path)) return;
    QLockFile lock(path);
    qint64 pid = 0;
    QString host, app;
    if (!lock.getLockInfo(&pid, &host, &app)) QFile::remove(path);
}

// Window coordinates beyond this are refused by X11 and make no sense anywhere.
constexpr double kLimitPixels = 32767;

// Twips to pixels when the result is a coordinate a window can have; else the fallback's.
int pixels(double twips, double fallback, int dpi, bool isSize)
{
    const double px = twips * dpi / 1440.0;
    const bool usable = std::isfinite(px) && std::abs(px) <= kLimitPixels && (!isSize || px >= 1);
    return int(std::lround((usable ? twips : fallback) * dpi / 1440.0));
}

// Squared distance from a point to a rectangle (0 inside).
qint64 distance2(const QPoint& p, const QRect& r)
{
    const qint64 dx = p.x() < r.left() ? r.left() - p.x() : p.x() > r.right() ? p.x() - r.right() : 0;
    const qint64 dy = p.y() < r.top() ? r.top() - p.y() : p.y() > r.bottom() ? p.y() - r.bottom() : 0;
    return dx * dx + dy * dy;
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
    removeBrokenLock(s.fileName());
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

QRect placementRect(const Placement& p, const QList<QRect>& screens, int dpi, const QSize& minimum)
{
    QRect r(pixels(p.left, Placement::kDefaultLeft, dpi, false),
            pixels(p.top, Placement::kDefaultTop, dpi, false),
            pixels(p.width, Placement::kDefaultWidth, dpi, true),
            pixels(p.height, Placement::kDefaultHeight, dpi, true));
    if (screens.isEmpty())
        return r.adjusted(0, 0, std::max(0, minimum.width() - r.width()),
                          std::max(0, minimum.height() - r.height()));

    // The screen the window lies on most, or else the one nearest to it.
    const QRect* home = nullptr;
    qint64 best = -1;
    for (const QRect& s : screens) {
        const QRect common = s.intersected(r);
        const qint64 area = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
        if (area > best) {
            best = area;
            home = &s;
        }
    }
    const bool offEveryScreen = best == 0;
    if (offEveryScreen) {
        const QPoint centre = r.center();
        home = &*std::min_element(screens.begin(), screens.end(), [&](const QRect& a, const QRect& b) {
            return distance2(centre, a) < distance2(centre, b);
        });
    }
    // A size below the content's minimum would be raised by the window system
    // after it is shown, which also shifts the window by its frame on some.
    r.setWidth(std::max(std::min(r.width(), home->width()), minimum.width()));
    r.setHeight(std::max(std::min(r.height(), home->height()), minimum.height()));
    // Shrunk to its screen, a window that reached onto it from above or from the
    // left may have left it; it is brought back like one that was never on it.
    if (offEveryScreen || !r.intersects(*home)) {
        r.moveLeft(std::clamp(r.left(), home->left(), std::max(home->left(), home->right() - r.width() + 1)));
        r.moveTop(std::clamp(r.top(), home->top(), std::max(home->top(), home->bottom() - r.height() + 1)));
    }
    return r;
}

} // namespace kestra::shell
