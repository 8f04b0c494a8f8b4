#include "shell/mainparts.h"

#include "base/failure.h"
#include "base/paths.h"
#include "platform/desktop/autostart.h"
#include "platform/desktop/installation.h"
#include "views/widgets/contrast.h"
#include "views/widgets/messenger.h"
#include "views/widgets/naming.h"
#include "views/widgets/outputcolour.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>

namespace kestra::shell {

namespace {

const QString kHelpLinkText = QStringLiteral("Help: how to use this time switch");

void setStartAtLogin(QAction* item, QWidget* window, const BuildConfig& build, bool on)
{
    const QString id = desktop::desktopId(build);
    try {
        if (on) {
            const QString program = QCoreApplication::applicationFilePath();
            desktop::enableAutostart(desktop::programAutostartEntry(build, program));
            // An installed program has its help page in <prefix>/share/kestra; a build tree has not.
            if (desktop::installedDataFile(QCoreApplication::applicationDirPath(), QStringLiteral("help.html"))
                    .isEmpty())
                ui::messenger().notice(
                    window, build.title,
                    QStringLiteral("Start at login will start %1, which is not an installed program (a build "
                                   "tree, say). The entry stops working when that file is moved or deleted: "
                                   "tick the item in the installed program instead.")
                        .arg(program));
        } else
            desktop::disableAutostart(id);
    } catch (const Failure& f) {
        ui::messenger().notice(window, build.title,
                               QStringLiteral("Start at login could not be changed.\n%1").arg(f.description));
    } catch (const std::exception& e) {
        ui::messenger().notice(
            window, build.title,
            QStringLiteral("Start at login could not be changed.\n%1").arg(QString::fromLocal8Bit(e.what())));
    }
    item->setChecked(desktop::autostartEnabled(id));
}

} // namespace

// The help page travels inside the program and is put into the program
// directory, so that the link opens a page that exists on this machine.
QUrl helpPageUrl()
{
    // An installed program has its page in <prefix>/share/kestra.
    if (const QString installed =
            desktop::installedDataFile(QCoreApplication::applicationDirPath(), QStringLiteral("help.html"));
        !installed.isEmpty())
        return QUrl::fromLocalFile(installed);
    const QString path = programDirectory() + QStringLiteral("/help.html");
    QFile source(QStringLiteral(":/kestra/help.html"));
    if (source.open(QIODevice::ReadOnly)) {
        const QByteArray page = source.readAll();
        QFile current(path);
        if (!current.exists() || (current.open(QIODevice::ReadOnly) && current.readAll() != page)) {
            current.close();
            // Whole or not at all, like the program's other files.
            QSaveFile target(path);
            if (target.open(QIODevice::WriteOnly) && target.write(page) == page.size()) target.commit();
        }
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }
    return QUrl::fromLocalFile(path);
}

QPushButton* outputButton(int m, QWidget* parent)
{
    auto* button = new QPushButton(QString::number(m), parent);
    button->setObjectName(QStringLiteral("Output%1").arg(m));
    button->setToolTip(m == 6 ? QStringLiteral("Set  6 Time") : QStringLiteral("Set %1 Time").arg(m));
    ui::paintButton(button, ui::outputColour(m));
    ui::nameControl(button, QStringLiteral("Output %1").arg(m));
    return button;
}

QLabel* helpLink(QWidget* window, QWidget* parent, const QString& title, const QUrl& page)
{
    auto* link = new QLabel(
        QStringLiteral("<a href=\"%1\">%2</a>").arg(page.toString(QUrl::FullyEncoded), kHelpLinkText), parent);
    link->setObjectName(QStringLiteral("hyperlink"));
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    link->setWordWrap(true);
    link->setToolTip(QStringLiteral("Opens %1 in the web browser").arg(page.toLocalFile()));
    ui::nameControl(link, kHelpLinkText);
    QObject::connect(link, &QLabel::linkActivated, window, [window, title, page] { showHelpPage(window, title, page); });
    return link;
}

void addHelpContents(QMenu* help, QWidget* window, const QString& title, const QUrl& page)
{
    QAction* contents = help->addAction(QStringLiteral("&Contents"));
    contents->setObjectName(QStringLiteral("mnuContents"));
    contents->setShortcut(QKeySequence::HelpContents);
    QObject::connect(contents, &QAction::triggered, window, [window, title, page] { showHelpPage(window, title, page); });
    help->addSeparator();
}

void showHelpPage(QWidget* window, const QString& title, const QUrl& page)
{
    if (QDesktopServices::openUrl(page)) return;
    // Without a program for web pages nothing would happen at all: say where the page is.
    ui::messenger().notice(window, title,
                           QStringLiteral("The help page could not be opened: no program to show web pages "
                                          "was found.\nOpen this file with a web browser:\n%1")
                               .arg(page.toLocalFile()));
}

QAction* addStartAtLogin(QMenu* file, QWidget* window, const BuildConfig& build)
{
    QAction* item = file->addAction(QStringLiteral("Start at login"));
    item->setObjectName(QStringLiteral("mnuStartAtLogin"));
    item->setCheckable(true);
    item->setToolTip(QStringLiteral("Start %1 when you log in to the desktop").arg(build.title));
    QObject::connect(item, &QAction::triggered, window,
                     [item, window, build](bool on) { setStartAtLogin(item, window, build, on); });
    // The entry is the only record of the choice, and may be removed behind our back.
    const auto showState = [item, build] { item->setChecked(desktop::autostartEnabled(desktop::desktopId(build))); };
    showState();
    QObject::connect(file, &QMenu::aboutToShow, item, showState);
    return item;
}

} // namespace kestra::shell
