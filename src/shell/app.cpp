#include "shell/app.h"
#include "shell/attachedwindow.h"

#include "base/clock.h"
#include "base/errnotext.h"
#include "base/failure.h"
#include "client/ctl.h"
#include "client/remoteswitch.h"
#include "logic/history/record.h"
#include "model/teller.h"
#include "platform/audio/audio.h"
#include "platform/desktop/icon.h"
#include "platform/desktop/installation.h"
#include "platform/port/port.h"
#include "service/service.h"
#include "service/startup/laststop.h"
#include "service/startup/servicemanager.h"
#include "service/startup/signals.h"
#include "service/startup/singleinstance.h"
#include "service/startup/startup.h"
#include "shell/historyhook.h"
#include "shell/mainwindow.h"
#include "shell/splash.h"
#include "storage/store/database.h"
#include "views/widgets/messenger.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <functional>
#include <unistd.h>

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

// The windows as views of the switch that runs already for this user (the
// service): nothing here takes the lock or touches the port, the settings or the
// history. Closing them leaves the switch running.
int runAttached(QApplication& app, SignalForwarder& forwarder, const BuildConfig& build)
{
    client::RemoteSwitch remote(build);
    AttachedWindow main(remote, build);
    QObject::connect(&forwarder, &SignalForwarder::received, &main, [&] {
        dismissModalWindows();
        QMetaObject::invokeMethod(&main, &QWidget::close, Qt::QueuedConnection);
    });
    // Shown once the switch's state is there, so that no empty rows flash up first.
    QObject::connect(&remote, &client::RemoteSwitch::attached, &main, [&] {
        if (!main.isVisible()) main.show();
    });
    remote.start();
    QTimer::singleShot(2s, &main, [&] {
        if (!main.isVisible()) main.show();
    });
    if (endRequested()) return 0;
    return app.exec();
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
    const auto refuse = [&](const QString& text) {
        // The lock is held by a switch of this build that answers its API: the
        // windows attach to it instead.
        if (ground.instance && ground.instance->heldElsewhere() && client::switchAnswers(build, 2s))
            return runAttached(app, forwarder, build);
        return refuseInBox(app, forwarder, build.title, text);
    };
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
    ServiceManager manager(service.model());
    // A window library that loses its display ends the process with exit(): the
    // switch stops first, as on a signal.
    const LastStop last([&] {
        model::echo(build.title, QStringLiteral("The display or the session has gone (see the line before): "
                                                "every output is switched OFF and the program ends."));
        service.stop();
        ground.instance.reset(); // the lock, which no destructor removes on this way out
    });
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
    manager.ready();
    main.show();
    if (ground.created) ui::messenger().notice(&main, build.title, createdText(*ground.database));
    return app.exec();
}

// The service without windows is a program of its own, which loads no window
// library at all (the same start, in half the memory). Returns only when it is
// not there or cannot be started; the caller then runs the service itself.
void execService(char** argv, const BuildConfig& build)
{
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    const QString program = serviceProgram(QFileInfo(self).absolutePath(), build);
    if (program.isEmpty()) return;
    const QByteArray path = QFile::encodeName(program);
    ::execv(path.constData(), argv);
    model::echo(build.title, QStringLiteral("%1 could not be started (%2); the service runs in this program")
                                 .arg(program, errnoText(errno)));
}

} // namespace

int run(int argc, char** argv, const BuildConfig& build)
{
    // The command-line client loads no window library either: the service
    // program runs it. Only where that cannot start does this program.
    if (isCtl(argc, argv)) {
        execService(argv, build);
        return api::runCtl(argc, argv, build);
    }
    QStringList switches;
    if (const auto code = beginStart(argc, argv, build, &switches)) return *code;
    if (switches.contains(kHeadlessOption)) {
        execService(argv, build);
        return runHeadless(argc, argv, build);
    }
    return runWithWindows(argc, argv, build);
}

} // namespace kestra::shell
