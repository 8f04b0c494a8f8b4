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
#include "inputs/audio.h"
#include "model/teller.h"
#include "port/port.h"
#include "service/service.h"
#include "shell/historyhook.h"
#include "shell/mainwindow.h"
#include "shell/signals.h"
#include "shell/singleinstance.h"
#include "shell/splash.h"
#include "store/database.h"
#include "ui/messenger.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <functional>
#include <sys/stat.h>

// The help page is a resource of this static library; it must be pulled in by name.
static void initShellResources()
{
    Q_INIT_RESOURCE(shell);
}

namespace kestra::shell {

using namespace std::chrono_literals;

namespace {

const QString kHeadless = QStringLiteral("headless");

// Asked to end before the port was touched: nothing needs undoing.
bool endRequested()
{
    return SignalForwarder::pending() != 0;
}

// What a start makes sure of before the switch runs, with or without windows:
// the program directory, this build being the only one running on it, and a
// settings file that can be read. `refuse` says why not and gives the exit code.
struct Ground
{
    std::unique_ptr<SingleInstance> instance;
    std::unique_ptr<store::Database> database;
    bool created = false;
};

std::optional<int> prepare(const BuildConfig& build, const Clock& clock,
                           const std::function<int(const QString&)>& refuse, Ground& ground)
{
    if (endRequested()) return 0;
    if (const QString problem = ensureProgramDirectory(); !problem.isEmpty()) return refuse(problem);

    ground.instance = std::make_unique<SingleInstance>(build.lockPath());
    if (!ground.instance->acquire()) return refuse(ground.instance->refusal(build.title));

    if (endRequested()) return 0;
    try {
        ground.database = store::Database::open(build.databasePath(), clock.now().date(), &ground.created);
    } catch (const Failure& f) {
        return refuse(f.description +
                      QStringLiteral("\n\nThe file was left as it is. %1 ends without using the port.")
                          .arg(build.title));
    }
    if (endRequested()) return 0;
    return std::nullopt;
}

QString createdText(const store::Database& database)
{
    return QStringLiteral("A new settings database was created at %1.").arg(database.path());
}

port::Environment portEnvironment(const BuildConfig& build)
{
    port::Environment env;
    env.simulatedPortPath = build.simulatedPortPath();
    return env;
}

// The history opens its file once the start-up has driven the port (see
// Service::start), so that a slow or large history never holds up the relays and
// with few open files the port comes first.
std::unique_ptr<service::Service> startService(const model::Context& ctx)
{
    return std::make_unique<service::Service>(ctx, history::historyPath(ctx.build));
}

// A refusal to start: said on the terminal and in a box that closes by itself,
// so that an unattended start does not hang on it.
int refuseInBox(QApplication& app, SignalForwarder& forwarder, const QString& title, const QString& text)
{
    model::echo(title, text);
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

// A box waiting for a click must not hold up the end: each modal window is
// dismissed, as Esc would, and no new message is shown from now on.
void dismissModalWindows()
{
    model::ErrorRoutine::setQuiet(true);
    for (int i = 0; i < 16; ++i) { // bounded: a window that will not close is left alone
        QWidget* w = QApplication::activeModalWidget();
        if (!w) return;
        if (auto* dialog = qobject_cast<QDialog*>(w))
            dialog->done(QDialog::Rejected);
        else
            w->close();
    }
}

// The switch with its windows.
int runWithWindows(int argc, char** argv, const BuildConfig& build)
{
    initShellResources();
    QApplication app(argc, argv);
    QApplication::setApplicationName(build.title);
    QApplication::setApplicationVersion(versionNumber());
    desktop::setDesktopIdentity(desktop::desktopId(build));
    // What the switch has to say appears in message boxes.
    ui::setMessenger(nullptr);
    SignalForwarder forwarder;
    if (endRequested()) return 0;

    const SystemClock clock;
    Ground ground;
    const auto refuse = [&](const QString& text) { return refuseInBox(app, forwarder, build.title, text); };
    if (const auto code = prepare(build, clock, refuse, ground)) return *code;

    port::Port port(build.portBase, portEnvironment(build));
    inputs::useMultimediaAudio();
    const model::Context ctx{build, port, *ground.database, clock};

    auto splash = std::make_unique<Splash>(build.title);
    splash->show();
    QApplication::processEvents();
    if (endRequested()) return 0;

    const std::unique_ptr<service::Service> started = startService(ctx);
    service::Service& service = *started;
    MainWindow main(service);
    HistoryHook history(service.recorder(), clock, build.title);
    history.attach(main);
    bool running = false;
    QObject::connect(&forwarder, &SignalForwarder::received, &main, [&] {
        dismissModalWindows();
        // Once the handler that showed a box has finished, end as File, Exit does.
        if (running) QMetaObject::invokeMethod(&main, &QWidget::close, Qt::QueuedConnection);
    });
    main.load();
    splash.reset();
    // The port has been set up: a signal during the load ends as File, Exit does.
    if (endRequested()) {
        dismissModalWindows();
        main.close();
        return 0;
    }
    running = true;
    main.show();
    if (ground.created) ui::messenger().notice(&main, build.title, createdText(*ground.database));
    return app.exec();
}

// The switch without windows: the same files, lock, port, signals and bytes;
// what a window would show goes to standard error.
int runHeadless(int argc, char** argv, const BuildConfig& build)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(build.title);
    QCoreApplication::setApplicationVersion(versionNumber());
    SignalForwarder forwarder;
    if (endRequested()) return 0;

    const SystemClock clock;
    Ground ground;
    const auto refuse = [&](const QString& text) {
        model::echo(build.title, text);
        return 1;
    };
    if (const auto code = prepare(build, clock, refuse, ground)) return *code;

    port::Port port(build.portBase, portEnvironment(build));
    inputs::useMultimediaAudio();
    const model::Context ctx{build, port, *ground.database, clock};
    const std::unique_ptr<service::Service> started = startService(ctx);
    service::Service& service = *started;
    bool running = false;
    QObject::connect(&forwarder, &SignalForwarder::received, &app, [&] {
        if (!running) return;
        running = false;
        // Queued: the handler that runs now finishes first, as with the windows.
        QMetaObject::invokeMethod(
            &app,
            [&] {
                service.stop();
                QCoreApplication::quit();
            },
            Qt::QueuedConnection);
    });
    service.start();
    if (endRequested()) {
        service.stop();
        return 0;
    }
    running = true;
    if (ground.created) model::echo(build.title, createdText(*ground.database));
    return app.exec();
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
        QStringLiteral("Weekly time switch on the printer port at 0x%1. Without options the program "
                       "starts with its windows.")
            .arg(build.portText());
    commandLine.switches = {
        {kHeadless, QStringLiteral("Run without windows and without a display, as a service: the outputs "
                                   "switch as set, messages go to standard error.")}};
    QStringList switches;
    if (const auto exitCode = desktop::handleCommandLine(commandLine, argc, argv, nullptr, &switches))
        return *exitCode;
    if (!raiseFileHandleLimit(build.title)) return 1;
    if (switches.contains(kHeadless)) return runHeadless(argc, argv, build);
    return runWithWindows(argc, argv, build);
}

} // namespace kestra::shell
