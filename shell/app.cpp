#include "shell/app.h"

#include "common/clock.h"
#include "common/environment.h"
#include "common/failure.h"
#include "common/filehandles.h"
#include "common/paths.h"
#include "desktop/commandline.h"
#include "desktop/icon.h"
#include "desktop/installation.h"
#include "history/record.h"
#include "port/port.h"
#include "shell/historyhook.h"
#include "shell/mainwindow.h"
#include "shell/signals.h"
#include "shell/singleinstance.h"
#include "shell/splash.h"
#include "store/database.h"
#include "ui/errorroutine.h"
#include "ui/messenger.h"

#include <QApplication>
#include <QDialog>
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
    if (SignalForwarder::pending()) return 1;
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok);
    QObject::connect(&box, &QMessageBox::finished, &app, &QCoreApplication::quit);
    // Queued: a quit asked for before the loop runs would be lost.
    QObject::connect(&forwarder, &SignalForwarder::received, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QTimer::singleShot(60s, &app, &QCoreApplication::quit);
    box.show();
    if (SignalForwarder::pending()) return 1;
    app.exec();
    return 1;
}

// Asked to end before the port was touched: nothing needs undoing.
bool endRequested()
{
    return SignalForwarder::pending() != 0;
}

// A box waiting for a click must not hold up the end: each modal window is
// dismissed, as Esc would, and no new message is shown from now on.
void dismissModalWindows()
{
    ui::ErrorRoutine::setQuiet(true);
    for (int i = 0; i < 16; ++i) { // bounded: a window that will not close is left alone
        QWidget* w = QApplication::activeModalWidget();
        if (!w) return;
        if (auto* dialog = qobject_cast<QDialog*>(w))
            dialog->done(QDialog::Rejected);
        else
            w->close();
    }
}

} // namespace

int run(int argc, char** argv, const BuildConfig& build)
{
    // Everything the program creates (directories, database, port file, lock,
    // placement, help page) is private to the user, whatever umask it was given.
    ::umask(077);
    ignoreRelativeXdgDirectories();
    // From here on a SIGTERM, SIGINT or SIGHUP is never lost (see endRequested).
    SignalForwarder::install();
    // Before anything else: --help must work without a display and touch no file.
    desktop::CommandLine commandLine;
    commandLine.program = build.title.toLower();
    commandLine.description =
        QStringLiteral("Weekly time switch on the printer port at 0x%1. Without options "
                       "the program starts; it takes no other arguments.")
            .arg(build.portText());
    if (const auto exitCode = desktop::handleCommandLine(commandLine, argc, argv)) return *exitCode;

    if (!raiseFileHandleLimit(build.title)) return 1;
    initShellResources();
    QApplication app(argc, argv);
    QApplication::setApplicationName(build.title);
    QApplication::setApplicationVersion(versionNumber());
    desktop::setDesktopIdentity(desktop::desktopId(build));
    SignalForwarder forwarder;
    if (endRequested()) return 0;

    if (const QString problem = ensureProgramDirectory(); !problem.isEmpty())
        return refuse(app, forwarder, build.title, problem);

    SingleInstance instance(build.lockPath());
    if (!instance.acquire()) return refuse(app, forwarder, build.title, instance.refusal(build.title));

    if (endRequested()) return 0;
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

    if (endRequested()) return 0;
    port::Environment env;
    env.simulatedPortPath = build.simulatedPortPath();
    port::Port port(build.portBase, env);
    const ui::AppContext ctx{build, port, *database, clock};

    auto splash = std::make_unique<Splash>(build.title);
    splash->show();
    QApplication::processEvents();
    if (endRequested()) return 0;

    // The port before the history: a printer port's device is held from here on,
    // and the history opens only with handles to spare for the port and the windows.
    port.chooseBackend();
    FileHandleReserve reserve;
    if (!reserve.problem().isEmpty())
        return refuse(app, forwarder, build.title,
                      build.title + QStringLiteral(" cannot run: ") + reserve.problem());
    HistoryHook history(ctx, history::historyPath(build));
    reserve.release();
    MainWindow main(ctx);
    history.attach(main);
    bool running = false;
    QObject::connect(&forwarder, &SignalForwarder::received, &main, [&] {
        dismissModalWindows();
        // Once the handler that showed a box has finished, end as File, Exit does.
        if (running) QMetaObject::invokeMethod(&main, &QWidget::close, Qt::QueuedConnection);
    });
    main.load();
    history.loaded();
    splash.reset();
    // The port has been set up: a signal during the load ends as File, Exit does.
    if (endRequested()) {
        dismissModalWindows();
        main.close();
        return 0;
    }
    running = true;
    main.show();
    if (created)
        ui::messenger().notice(
            &main, build.title,
            QStringLiteral("A new settings database was created at %1.").arg(database->path()));
    return app.exec();
}

} // namespace kestra::shell
