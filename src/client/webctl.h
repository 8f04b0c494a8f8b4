#pragma once

#include "base/buildconfig.h"

#include <QStringList>

namespace kestra::web {

// Whether `kestra3 ctl COMMAND` is one of the web page's: "web" or "password".
bool isWebCtl(const QString& command);

// `kestra3 ctl web`: asks the running switch for a one-time login link,
// prints it and opens it where there is a desktop.
// `kestra3 ctl password`: sets the web page's password, read from the terminal
// without echo, or from standard input (its first line) when that is no
// terminal. Through the running switch when there is one (its other browsers
// are logged out), else straight into the placement file.
// `arguments` start with the command. Exit codes as the other ctl commands'.
int runWebCtl(const BuildConfig& build, const QStringList& arguments);

} // namespace kestra::web
