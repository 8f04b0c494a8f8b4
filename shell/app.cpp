#include "shell/app.h"

#include "common/clock.h"
#include "common/failure.h"
#include "common/paths.h"
#include "port/port.h"
#include "shell/mainwindow.h"
#include "shell/signals.h"
#include "shell/singleinstance.h"
#include "shell/splash.h"
#include "store/database.h"
#include "ui/messenger.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <sys/stat.h>

// The help page is a resource of this static library; it must be pulled in by name.
static void initShellResources()
{
    Q_INIT_RESOURCE(shell);
}

namespace kestra::shell {

using namespace std::chrono_literals;

namespace {

// A refusal to start: said on the terminal and in a box that closes by itself,
// so that an unattended start does not hang on it.
int refuse(QApplication& app, SignalForwarder& forwarder, const QString& title, const QString& text)
{
    ui::echo(title, text);
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok);
    QObject::connect(&box, &QMessageBox::finished, &app, &QCoreApplication::quit);
    QObject::connect(&forwarder, &SignalForwarder::received, &app, &QCoreApplication::quit);
    QTimer::singleShot(60s, &app, &QCoreApplication::quit);
    box.show();
    app.exec();
    return 1;
}

} // namespace

int run(int argc, char** argv, const BuildConfig& build)
{
    // Everything the program creates (directories, database, port file, lock,
    // placement, help page) is private to the user, whatever umask it was given.
    ::umask(077);
    initShellResources();
    QApplication app(argc, argv);
    QApplication::setApplicationName(build.title);
    QApplication::setApplicationVersion(
        QStringLiteral("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision));
    SignalForwarder forwarder;

    if (const QString problem = ensureProgramDirectory(); !problem.isEmpty())
        return refuse(app, forwarder, build.title, problem);

    SingleInstance instance(build.lockPath());
    if (!instance.acquire())
        return refuse(app, forwarder, build.title,
                      QStringLiteral("%1 is already running. Use the window that is open (lock %2).")
                          .arg(build.title, instance.lockPath()));

    const SystemClock clock;
    std::unique_ptr<store::Database> database;
    bool created = false;
    try {
        database = store::Database::open(build.databasePath(), clock.now().date(), &created);
    } catch (const Failure& f) {
        return refuse(app, forwarder, build.title,
                      f.description +
                          QStringLiteral("\n\nThe file was left as it is. %1 ends without using the port.")
                              .arg(build.title));
    }

    port::Environment env;
    env.simulatedPortPath = build.simulatedPortPath();
    port::Port port(build.portBase, env);
    const ui::AppContext ctx{build, port, *database, clock};

    auto splash = std::make_unique<Splash>(build.title);
    splash->show();
    QApplication::processEvents();

    MainWindow main(ctx);
    QObject::connect(&forwarder, &SignalForwarder::received, &main, &QWidget::close);
    main.load();
    splash.reset();
    main.show();
    if (created)
        ui::messenger().notice(
            &main, build.title,
            QStringLiteral("A new settings database was created at %1.").arg(database->path()));
    return app.exec();
}

} // namespace kestra::shell
