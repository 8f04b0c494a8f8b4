#include "service/startup/startup.h"

#include "base/clock.h"
#include "base/diagnostics.h"
#include "base/environment.h"
#include "base/errnotext.h"
#include "base/failure.h"
#include "base/filehandles.h"
#include "base/paths.h"
#include "client/apirequest.h"
#include "client/ctl.h"
#include "client/endpoint.h"
#include "client/webctl.h"
#include "logic/history/record.h"
#include "model/teller.h"
#include "platform/audio/soundplayer.h"
#include "platform/desktop/commandline.h"
#include "platform/port/port.h"
#include "service/service.h"
#include "service/startup/laststop.h"
#include "service/startup/servicemanager.h"
#include "service/startup/signals.h"
#include "service/startup/singleinstance.h"
#include "storage/calendar/command.h"
#include "storage/calendar/file.h"
#include "storage/store/database.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <cerrno>
#include <csignal>
#include <sys/stat.h>

namespace kestra::shell {

std::optional<int> beginStart(int argc, char** argv, const BuildConfig& build, QStringList* switches)
{
    // Everything the program creates (directories, database, port file, lock,
    // placement, help page) is private to the user, whatever umask it was given.
    ::umask(077);
    // What is said goes to standard error without ever waiting for its reader.
    routeQtMessages(&LastStop::run);
    ignoreRelativeXdgDirectories();
    // From here on a signal that ends a process is never lost (see endRequested).
    SignalForwarder::install();
    // Before anything else: --help must work without a display and touch no file.
    desktop::CommandLine commandLine;
    commandLine.program = build.title.toLower();
    commandLine.description =
        QStringLiteral("Weekly time switch on the printer port at 0x%1. Without options the program "
                       "starts with its windows.")
            .arg(build.portText());
    commandLine.switches = {
        {kHeadlessOption,
         QStringLiteral("Run without windows and without a display, as a service: the outputs "
                        "switch as set, messages go to standard error.")}};
    commandLine.description +=
        QStringLiteral("\n\n%1 ctl COMMAND steers and watches the running switch from a terminal or a "
                       "script (%1 ctl --help).")
            .arg(commandLine.program);
    if (const auto exitCode = desktop::handleCommandLine(commandLine, argc, argv, nullptr, switches))
        return *exitCode;
    if (!raiseFileHandleLimit(build.title)) return 1;
    return std::nullopt;
}

bool endRequested()
{
    return SignalForwarder::pending() != 0;
}

namespace {
// The placement file may hold the broker's password: one made by hand (or
// copied) that others can read is made private, and the user told so.
void makePlacementPrivate(const BuildConfig& build)
{
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                         QLatin1Char('/') + build.title + QStringLiteral(".ini");
    const QByteArray name = QFile::encodeName(path);
    struct stat st
    {
    };
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 077) == 0) return;
    if (::chmod(name.constData(), 0600) == 0)
        model::echo(build.title, QStringLiteral("%1 could be read by other users; it is now private to you "
                                                "(mode 0600), as it may hold the broker's password.")
                                     .arg(path));
    else
        model::echo(build.title, QStringLiteral("%1 can be read by other users and cannot be made private "
                                                "(%2); it may hold the broker's password.")
                                     .arg(path, errnoText(errno)));
}
} // namespace

Ground::Ground() = default;
Ground::~Ground() = default;

std::optional<int> prepare(const BuildConfig& build, const Clock& clock,
                           const std::function<int(const QString&)>& refuse, Ground& ground)
{
    if (endRequested()) return 0;
    if (const QString problem = ensureProgramDirectory(); !problem.isEmpty()) return refuse(problem);

    makePlacementPrivate(build);

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

std::unique_ptr<service::Service> startService(const model::Context& ctx)
{
    return std::make_unique<service::Service>(ctx, history::historyPath(ctx.build));
}

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
    // The sounds of inputs 4 and 5 load the audio libraries when one is first played.
    inputs::useAudioModule(QCoreApplication::applicationDirPath());
    const model::Context ctx{build, port, *ground.database, clock};
    const std::unique_ptr<service::Service> started = startService(ctx);
    service::Service& service = *started;
    ServiceManager manager(service.model());
    const LastStop last([&] {
        service.stop();
        ground.instance.reset(); // the lock, which no destructor removes on this way out
    });
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
    manager.ready();
    if (ground.created) model::echo(build.title, createdText(*ground.database));
    return app.exec();
}

namespace {

// `ctl place` while a switch runs: the switch stores it, so that its ticks,
// its windows and its clients follow the place at once.
calendar::SwitchAnswer placeToSwitch(const BuildConfig& build, const QString& latitude,
                                     const QString& longitude, const QString& name)
{
    using Outcome = calendar::SwitchAnswer::Outcome;
    const std::optional<api::Endpoint> e = api::readEndpoint(build);
    if (!e) return {};
    const QJsonObject command{{QStringLiteral("command"), QStringLiteral("calendarPlace")},
                              {QStringLiteral("latitude"), latitude},
                              {QStringLiteral("longitude"), longitude},
                              {QStringLiteral("name"), name}};
    const api::Reply r = api::Client(e->port, e->token)
                             .post("/api/command", QJsonDocument(command).toJson(QJsonDocument::Compact),
                                   std::chrono::seconds(10));
    if (r.status == 200) return {Outcome::Stored, {}};
    if (r.status != 0) {
        const QJsonObject error =
            QJsonDocument::fromJson(r.body).object().value(QStringLiteral("error")).toObject();
        const QString why = error.value(QStringLiteral("description"))
                                .toString(error.value(QStringLiteral("text")).toString());
        return {Outcome::Refused,
                why.isEmpty() ? QStringLiteral("the switch answered %1").arg(r.status) : why};
    }
    // The file of a switch that died: nobody holds the calendar.
    if (e->pid > 0 && ::kill(pid_t(e->pid), 0) != 0 && errno == ESRCH) return {};
    return {Outcome::Unreachable, r.error};
}

} // namespace

int runService(int argc, char** argv, const BuildConfig& build)
{
    if (isCtl(argc, argv)) {
        if (argc >= 3 && web::isWebCtl(QString::fromLocal8Bit(argv[2]))) {
            QCoreApplication app(argc, argv);
            return web::runWebCtl(build, app.arguments().mid(2));
        }
        if (argc >= 3 && (qstrcmp(argv[2], "place") == 0 || qstrcmp(argv[2], "sun") == 0)) {
            QCoreApplication app(argc, argv);
            QTextStream out(stdout), err(stderr);
            return calendar::runCalendarCommand(
                app.arguments().mid(2), out, err, calendar::CalendarFile(calendar::calendarPath(build)),
                [&](const QString& lat, const QString& lon, const QString& name) {
                    return placeToSwitch(build, lat, lon, name);
                },
                QDate::currentDate(), QTimeZone::systemTimeZone());
        }
        return api::runCtl(argc, argv, build);
    }
    QStringList switches;
    if (const auto code = beginStart(argc, argv, build, &switches)) return *code;
    return runHeadless(argc, argv, build);
}

bool isCtl(int argc, char** argv)
{
    return argc >= 2 && QLatin1String(argv[1]) == api::kCtlCommand;
}

QString serviceProgram(const QString& programDirectory, const BuildConfig& build)
{
    const QString name = build.title.toLower() + QStringLiteral("-service");
    for (const QString& candidate : {programDirectory + QLatin1Char('/') + name,
                                     programDirectory + QStringLiteral("/../libexec/kestra/") + name})
        if (QFileInfo(candidate).isExecutable()) return QDir::cleanPath(candidate);
    return {};
}

} // namespace kestra::shell
