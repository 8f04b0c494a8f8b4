#include "client/webctl.h"

#include "base/failure.h"
#include "client/apirequest.h"
#include "client/ctl.h"
#include "client/endpoint.h"
#include "logic/auth/password.h"
#include "logic/web/websettings.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace kestra::web {

namespace ctl = api::ctl;
using api::Reply;

namespace {

void err(const BuildConfig& build, const QString& text)
{
    std::fprintf(stderr, "%s ctl: %s\n", qPrintable(build.title.toLower()), qPrintable(text));
}

QString errorText(const Reply& r)
{
    if (r.status == 0) return QStringLiteral("the switch does not answer (%1)").arg(r.error);
    const QJsonObject e = QJsonDocument::fromJson(r.body).object().value(QStringLiteral("error")).toObject();
    const QString text = e.value(QStringLiteral("text")).toString();
    return text.isEmpty() ? QStringLiteral("the switch answered %1").arg(r.status) : text;
}

// One line from standard input; on a terminal without echo.
std::optional<QString> readLine(const char* prompt)
{
    const bool terminal = ::isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    const bool got = bool(std::getline(std::cin, line));
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (!got && line.empty()) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return QString::fromStdString(line);
}

int password(const BuildConfig& build)
{
    const std::optional<QString> first = readLine("New password: ");
    if (!first) {
        err(build, QStringLiteral("no password was given on standard input"));
        return ctl::kUsage;
    }
    if (::isatty(STDIN_FILENO)) {
        const std::optional<QString> again = readLine("Repeat it: ");
        if (!again || *again != *first) {
            err(build, QStringLiteral("the two passwords differ; nothing was changed"));
            return ctl::kUsage;
        }
    }
    if (const QString problem = auth::passwordProblem(*first); !problem.isEmpty()) {
        err(build, problem);
        return ctl::kRefused;
    }
    // A running switch stores it and logs out every browser that knew the old one.
    if (const std::optional<api::Endpoint> e = api::readEndpoint(build)) {
        const api::Client client(e->port, e->token);
        const Reply r = client.post("/api/web/password",
                                    QJsonDocument(QJsonObject{{QStringLiteral("password"), *first}})
                                        .toJson(QJsonDocument::Compact),
                                    std::chrono::seconds(20));
        if (r.status == 200) {
            std::fputs("The password is set.\n", stdout);
            return ctl::kOk;
        }
        if (r.status != 0) {
            err(build, errorText(r));
            return ctl::kRefused;
        }
    }
    try {
        const QString problem = storePasswordHash(build, auth::hashPassword(*first));
        if (!problem.isEmpty()) {
            err(build, problem);
            return ctl::kRefused;
        }
    } catch (const Failure& f) {
        err(build, f.description);
        return ctl::kRefused;
    }
    std::fputs("The password is set.\n", stdout);
    return ctl::kOk;
}

int loginLink(const BuildConfig& build)
{
    QString why;
    const std::optional<api::Endpoint> e = api::readEndpoint(build, &why);
    if (!e) {
        err(build, QStringLiteral("no %1 switch is running for this user (%2)").arg(build.title, why));
        return ctl::kNoSwitch;
    }
    const api::Client client(e->port, e->token);
    const Reply r = client.post("/api/web/code", "{}");
    if (r.status != 200) {
        err(build, errorText(r));
        return r.status == 0 ? ctl::kNoSwitch : ctl::kRefused;
    }
    const QString code = QJsonDocument::fromJson(r.body).object().value(QStringLiteral("code")).toString();
    // The API's own server: on 127.0.0.1, whatever else the page is offered on.
    const QString link = QStringLiteral("http://127.0.0.1:%1/login?code=%2").arg(e->port).arg(code);
    std::fprintf(stdout, "%s\n", qPrintable(link));
    std::fflush(stdout);
    std::fprintf(stderr, "The link logs one browser in, once, within two minutes.\n");
    // Where there is a desktop, the browser opens it.
    const bool desktop = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (desktop && !opener.isEmpty() && qEnvironmentVariableIsEmpty("KESTRA_NO_BROWSER"))
        QProcess::startDetached(opener, {link});
    return ctl::kOk;
}

} // namespace

bool isWebCtl(const QString& command)
{
    return command == QLatin1String("web") || command == QLatin1String("password");
}

int runWebCtl(const BuildConfig& build, const QStringList& arguments)
{
    const QString command = arguments.value(0);
    if (arguments.size() != 1) {
        err(build, QStringLiteral("%1 takes no argument").arg(command));
        return ctl::kUsage;
    }
    return command == QLatin1String("password") ? password(build) : loginLink(build);
}

} // namespace kestra::web
