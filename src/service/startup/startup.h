#pragma once

#include "base/buildconfig.h"
#include "model/context.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace kestra::store {
class Database;
}
namespace kestra::service {
class Service;
}

namespace kestra::shell {

class SingleInstance;

// The option that runs the switch without windows.
inline const QString kHeadlessOption = QStringLiteral("headless");

// What a start does before anything else, with or without windows: files private
// to the user, standard error that never waits, relative XDG directories ignored,
// no signal that ends a process lost. Then the command line: the exit code when the program must end now
// (--help, --version, a word it does not know, too few open files).
std::optional<int> beginStart(int argc, char** argv, const BuildConfig& build, QStringList* switches);

// Asked to end before the port was touched: nothing needs undoing.
bool endRequested();

// What a start makes sure of before the switch runs: the program directory,
// this build being the only one running on it, and a settings file that can be
// read. `refuse` says why not and gives the exit code.
struct Ground
{
    Ground();
    ~Ground();
    std::unique_ptr<SingleInstance> instance;
    std::unique_ptr<store::Database> database;
    bool created = false;
};
std::optional<int> prepare(const BuildConfig& build, const Clock& clock,
                           const std::function<int(const QString&)>& refuse, Ground& ground);

// "A new settings database was created at ..."
QString createdText(const store::Database& database);

port::Environment portEnvironment(const BuildConfig& build);

// The switch with its readers; the history opens its file once the start-up
// has driven the port (see Service::start), so that a slow or large history
// never holds up the relays and with few open files the port comes first.
std::unique_ptr<service::Service> startService(const model::Context& ctx);

// The switch without windows, in this process: the same files, lock, port,
// signals and bytes as with them; what a window would show goes to standard error.
// Call after beginStart().
int runHeadless(int argc, char** argv, const BuildConfig& build);

// `kestra3 ctl ...`: the command-line client of the running switch.
bool isCtl(int argc, char** argv);

// The service program's own start: beginStart(), then runHeadless(); or the
// command-line client (`ctl`), which needs neither the switch nor a window.
int runService(int argc, char** argv, const BuildConfig& build);

// Where the service program of this build lies beside `programDirectory`: in the
// same directory (the build tree), or in <prefix>/libexec/kestra beside
// <prefix>/bin. Empty when there is none.
QString serviceProgram(const QString& programDirectory, const BuildConfig& build);

} // namespace kestra::shell
