#include "client/ctl.h"

#include "client/apirequest.h"
#include "client/endpoint.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <csignal>
#include <cstdio>

namespace kestra::api {

namespace {

void out(const QString& text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

void err(const BuildConfig& build, const QString& text)
{
    std::fprintf(stderr, "%s ctl: %s\n", qPrintable(build.title.toLower()), qPrintable(text));
}

QString usage(const BuildConfig& build)
{
    const QString p = build.title.toLower();
    return QStringLiteral(
               "Usage: %1 ctl COMMAND [--json]\n"
               "Steers and watches the running %2 switch of this user (the window program or %1 "
               "--headless).\n"
               "\n"
               "Commands:\n"
               "  status            a table of the outputs and inputs (--json: the whole state as JSON)\n"
               "  mode N MODE       output N (1 to 8) to AUTO, ON or OFF: shown, stored and followed at "
               "once\n"
               "  next              each output's next switching (--json: as JSON)\n"
               "  watch             one line per change until interrupted (--json: one JSON object per "
               "line)\n"
               "  web               print a one-time login link to the web page (and open it on a desktop)\n"
               "  password          set the web page's password (read from standard input when it is no "
               "terminal)\n"
               "  place LAT LON [NAME]  the switch's place for sun times (stored by the running switch, if any)\n"
               "  sun [DATE]        sunrise, sunset and the chosen twilight there (--json: as JSON)\n"
               "\n"
               "Exit codes: 0 done; 1 the switch refused (its message is printed); 2 the command line was\n"
               "not understood; 3 no %2 switch runs for this user, or it cannot be reached.\n"
               "The switch is found through %3.\n")
        .arg(p, build.title, endpointPath(build));
}

QString cell(const QJsonValue& v, int width)
{
    QString t = v.isNull()   ? QStringLiteral("-")
                : v.isBool() ? (v.toBool() ? QStringLiteral("ON") : QStringLiteral("OFF"))
                             : v.toVariant().toString();
    if (width > 0 && t.size() > width) t = t.left(width - 1) + QChar(0x2026);
    return t.leftJustified(width);
}

QString outputLine(const QJsonObject& o)
{
    return QStringLiteral("%1  %2  %3  %4  %5  %6")
        .arg(QString::number(o.value(QStringLiteral("output")).toInt()).rightJustified(3),
             cell(o.value(QStringLiteral("location")), 20), cell(o.value(QStringLiteral("mode")), 4),
             cell(o.value(QStringLiteral("state")), 11), cell(o.value(QStringLiteral("driven")), 6),
             o.value(QStringLiteral("next")).toObject().value(QStringLiteral("text")).toString());
}

QString now()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz"));
}

// One line of `watch` for one event.
QString eventLine(const QByteArray& name, const QJsonObject& o)
{
    if (name == "output") {
        const QJsonObject next = o.value(QStringLiteral("next")).toObject();
        return QStringLiteral("%1 output %2 %3: %4 (%5), driven %6, mode %7, %8%9")
            .arg(now())
            .arg(o.value(QStringLiteral("output")).toInt())
            .arg(o.value(QStringLiteral("location")).toString(), o.value(QStringLiteral("state")).toString(),
                 o.value(QStringLiteral("cause")).toString(),
                 cell(o.value(QStringLiteral("driven")), 0).trimmed(),
                 o.value(QStringLiteral("mode")).toString(), next.value(QStringLiteral("text")).toString(),
                 o.value(QStringLiteral("unsaved")).toBool() ? QStringLiteral(", unsaved edits") : QString());
    }
    if (name == "port") {
        const QJsonValue b = o.value(QStringLiteral("byte"));
        return QStringLiteral("%1 port byte %2%3")
            .arg(now(),
                 b.isNull() ? QStringLiteral("unknown")
                            : QStringLiteral("0x%1").arg(b.toInt(), 2, 16, QLatin1Char('0')),
                 o.value(QStringLiteral("problem")).toBool()
                     ? QStringLiteral(": ") + o.value(QStringLiteral("line")).toString()
                     : QString());
    }
    if (name == "inputs") {
        QStringList levels;
        for (const QJsonValue& v : o.value(QStringLiteral("levels")).toArray())
            levels << v.toObject().value(QStringLiteral("text")).toString();
        return QStringLiteral("%1 inputs: %2").arg(now(), levels.join(QStringLiteral(", ")));
    }
    if (name == "state") {
        QStringList states;
        for (const QJsonValue& v : o.value(QStringLiteral("outputs")).toArray())
            states << QStringLiteral("%1 %2")
                          .arg(v.toObject().value(QStringLiteral("output")).toInt())
                          .arg(v.toObject().value(QStringLiteral("state")).toString());
        return QStringLiteral("%1 watching %2: %3")
            .arg(now(), o.value(QStringLiteral("title")).toString(), states.join(QStringLiteral(", ")));
    }
    if (name == "mqtt")
        return QStringLiteral("%1 %2").arg(now(), o.value(QStringLiteral("state")).toString());
    if (name == "locations") {
        QStringList names;
        for (const QJsonValue& v : o.value(QStringLiteral("locations")).toArray())
            names << v.toString();
        return QStringLiteral("%1 locations: %2").arg(now(), names.join(QStringLiteral(" | ")));
    }
    if (name == "ending") return QStringLiteral("%1 the switch is ending").arg(now());
    if (name == "week") {
        QStringList outputs;
        for (const QJsonValue& v : o.value(QStringLiteral("outputs")).toArray())
            outputs << QString::number(v.toInt());
        return QStringLiteral("%1 week redrawn: outputs %2").arg(now(), outputs.join(QStringLiteral(", ")));
    }
    return QStringLiteral("%1 %2").arg(now(), QString::fromUtf8(name));
}

QString errorText(const Reply& r)
{
    const QJsonObject e = QJsonDocument::fromJson(r.body).object().value(QStringLiteral("error")).toObject();
    const QString text = e.value(QStringLiteral("text")).toString();
    return text.isEmpty() ? QStringLiteral("the switch answered %1").arg(r.status) : text;
}

} // namespace

int runCtl(const BuildConfig& build, const QStringList& arguments)
{
    QStringList args = arguments;
    const bool asJson = args.removeAll(QStringLiteral("--json")) > 0;
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        out(usage(build));
        return ctl::kOk;
    }
    const QString command = args.value(0);
    const auto wrong = [&](const QString& why) {
        err(build, why);
        std::fputs(qPrintable(usage(build)), stderr);
        return ctl::kUsage;
    };
    const QStringList known = {QStringLiteral("status"), QStringLiteral("mode"), QStringLiteral("next"),
                               QStringLiteral("watch")};
    if (command.isEmpty()) return wrong(QStringLiteral("a command is needed"));
    if (!known.contains(command)) return wrong(QStringLiteral("unknown command \"%1\"").arg(command));
    const int wantedArgs = command == QLatin1String("mode") ? 3 : 1;
    if (args.size() != wantedArgs)
        return wrong(QStringLiteral("%1 takes %2")
                         .arg(command, wantedArgs == 3 ? QStringLiteral("an output and a mode")
                                                       : QStringLiteral("no argument")));
    int output = 0;
    QString mode;
    if (command == QLatin1String("mode")) {
        bool ok = false;
        output = args.at(1).toInt(&ok);
        if (!ok || output < 1 || output > 8)
            return wrong(QStringLiteral("the output is a number from 1 to 8"));
        mode = args.at(2).toUpper();
        if (mode != QLatin1String("AUTO") && mode != QLatin1String("ON") && mode != QLatin1String("OFF"))
            return wrong(QStringLiteral("the mode is AUTO, ON or OFF"));
    }

    QString why;
    const std::optional<Endpoint> endpoint = readEndpoint(build, &why);
    const QString none = QStringLiteral("no %1 switch is running for this user").arg(build.title);
    if (!endpoint) {
        err(build, QStringLiteral("%1 (%2). Start it with `%3 --headless` or `%3`.")
                       .arg(none, why, build.title.toLower()));
        return ctl::kNoSwitch;
    }
    if (endpoint->pid > 0 && ::kill(pid_t(endpoint->pid), 0) != 0 && errno == ESRCH) {
        err(build, QStringLiteral("%1: process %2 of %3 has ended")
                       .arg(none)
                       .arg(endpoint->pid)
                       .arg(endpointPath(build)));
        return ctl::kNoSwitch;
    }
    const Client client(endpoint->port, endpoint->token);
    const auto failed = [&](const Reply& r) {
        if (r.status == 0) {
            err(build, QStringLiteral("%1: 127.0.0.1:%2 does not answer (%3)")
                           .arg(none)
                           .arg(endpoint->port)
                           .arg(r.error));
            return ctl::kNoSwitch;
        }
        if (r.status == 401) {
            err(build, QStringLiteral("the switch on 127.0.0.1:%1 refused the token of %2")
                           .arg(endpoint->port)
                           .arg(endpointPath(build)));
            return ctl::kNoSwitch;
        }
        err(build, errorText(r));
        return ctl::kRefused;
    };

    if (command == QLatin1String("mode")) {
        const QJsonObject c{{QStringLiteral("command"), QStringLiteral("mode")},
                            {QStringLiteral("output"), output},
                            {QStringLiteral("mode"), mode}};
        const Reply r = client.post("/api/command", QJsonDocument(c).toJson(QJsonDocument::Compact));
        if (r.status != 200) return failed(r);
        if (asJson) out(QString::fromUtf8(r.body.trimmed()));
        return ctl::kOk;
    }
    if (command == QLatin1String("watch")) {
        const Reply r = client.watch([&](const QByteArray& name, const QByteArray& data) {
            const QJsonObject o = QJsonDocument::fromJson(data).object();
            if (asJson) {
                QJsonObject line = o;
                line.insert(QStringLiteral("event"), QString::fromUtf8(name));
                out(QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)));
            } else
                out(eventLine(name, o));
            return true;
        });
        if (r.status != 200) return failed(r);
        err(build, QStringLiteral("%1 (%2)").arg(QStringLiteral("the switch has ended"), r.error));
        return ctl::kNoSwitch;
    }
    const Reply r = client.get(command == QLatin1String("next") ? "/api/next" : "/api/state");
    if (r.status != 200) return failed(r);
    if (asJson) {
        out(QString::fromUtf8(r.body.trimmed()));
        return ctl::kOk;
    }
    const QJsonObject o = QJsonDocument::fromJson(r.body).object();
    if (command == QLatin1String("next")) {
        for (const QJsonValue& v : o.value(QStringLiteral("outputs")).toArray()) {
            const QJsonObject x = v.toObject();
            const QJsonObject next = x.value(QStringLiteral("next")).toObject();
            const QString at = next.value(QStringLiteral("at")).toString();
            out(QStringLiteral("%1  %2  %3%4")
                    .arg(QString::number(x.value(QStringLiteral("output")).toInt()).rightJustified(3),
                         cell(x.value(QStringLiteral("location")), 20),
                         next.value(QStringLiteral("text")).toString(),
                         at.isEmpty() ? QString() : QStringLiteral("  (%1)").arg(at)));
        }
        out(o.value(QStringLiteral("text")).toString());
        return ctl::kOk;
    }
    out(QStringLiteral("OUT  %1  MODE  %2  DRIVEN  NEXT")
            .arg(QStringLiteral("LOCATION").leftJustified(20), QStringLiteral("STATE").leftJustified(11)));
    for (const QJsonValue& v : o.value(QStringLiteral("outputs")).toArray())
        out(outputLine(v.toObject()));
    out(QString());
    out(QStringLiteral(" IN  %1  STATE").arg(QStringLiteral("LOCATION").leftJustified(20)));
    for (const QJsonValue& v :
         o.value(QStringLiteral("inputs")).toObject().value(QStringLiteral("levels")).toArray()) {
        const QJsonObject l = v.toObject();
        out(QStringLiteral("%1  %2  %3")
                .arg(QString::number(l.value(QStringLiteral("input")).toInt()).rightJustified(3),
                     cell(l.value(QStringLiteral("location")), 20), cell(l.value(QStringLiteral("on")), 0)));
    }
    out(QString());
    out(o.value(QStringLiteral("next")).toString());
    out(o.value(QStringLiteral("port")).toObject().value(QStringLiteral("line")).toString());
    const QJsonObject mqtt = o.value(QStringLiteral("mqtt")).toObject();
    if (mqtt.value(QStringLiteral("enabled")).toBool()) out(mqtt.value(QStringLiteral("state")).toString());
    return ctl::kOk;
}

int runCtl(int argc, char** argv, const BuildConfig& build)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args.first() == kCtlCommand) args.removeFirst();
    return runCtl(build, args);
}

} // namespace kestra::api
