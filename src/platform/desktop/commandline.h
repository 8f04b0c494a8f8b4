#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

namespace kestra::desktop {

// What one of the programs accepts: --help and --version, and at most one
// positional argument when it names one. Nothing else.
struct CommandLine
{
    QString program;        // "kestra3", as the usage line shows it
    QString description;    // the paragraph under the usage line
    QString positionalName; // empty: the program takes no argument
    QString positionalHelp;
    // Options that take no value, besides --help and --version: name and help.
    QList<std::pair<QString, QString>> switches;
};

struct CommandLineOutcome
{
    bool start = true; // false: print and end with exitCode
    int exitCode = 0;
    QString out; // for stdout
    QString err; // for stderr
    QStringList positional;
    QStringList switches; // the names of the switches given
};

// Exit code of a command line that was not understood.
inline constexpr int kUsageExitCode = 2;

// `arguments` without the program name.
CommandLineOutcome parseCommandLine(const CommandLine& line, const QStringList& arguments);

// Reads argv before any application object exists, so that --help and --version
// work in a terminal without a display and touch no file. Prints what there is to
// print and returns the exit code when the program must end now; otherwise fills
// `positional`. Without arguments nothing is parsed at all.
std::optional<int> handleCommandLine(const CommandLine& line, int argc, char** argv,
                                     QStringList* positional = nullptr, QStringList* switches = nullptr);

} // namespace kestra::desktop
