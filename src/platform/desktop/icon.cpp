#include "platform/desktop/icon.h"

#include "platform/desktop/installation.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

static void initDesktopResources()
{
    Q_INIT_RESOURCE(desktop);
}

namespace kestra::desktop {

QIcon programIcon()
{
    initDesktopResources();
    // Rendered here rather than left to Qt's SVG icon plugin, which need not be installed.
    QSvgRenderer svg(QStringLiteral(":/kestra/icon.svg"));
    QIcon icon;
    if (!svg.isValid()) return icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        svg.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void setDesktopIdentity(const QString& desktopId)
{
    QGuiApplication::setDesktopFileName(desktopId);
    QGuiApplication::setWindowIcon(programIcon());
}

} // namespace kestra::desktop
