#include "platform/desktop/commandline.h"

#include "base/buildconfig.h"

#include <QCommandLineParser>
#include <cstdio>

namespace kestra::desktop {

CommandLineOutcome parseCommandLine(const CommandLine& line, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(line.description);
    // Own options rather than addHelpOption(), whose --help-all would list Qt's
    // options, which these programs do not take.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                                  QStringLiteral("Show this help and end."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and end."));
    parser.addOption(help);
    parser.addOption(version);
    QList<QCommandLineOption> switches;
    for (const auto& [name, text] : line.switches) {
        switches << QCommandLineOption(name, text);
        parser.addOption(switches.back());
    }
    if (!line.positionalName.isEmpty())
        parser.addPositionalArgument(line.positionalName, line.positionalHelp,
                                     QStringLiteral("[%1]").arg(line.positionalName));

    CommandLineOutcome outcome;
    auto refuse = [&](const QString& why) {
        outcome.start = false;
        outcome.exitCode = kUsageExitCode;
        outcome.err = QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(line.program, why);
        return outcome;
    };
    if (!parser.parse(QStringList{line.program} + arguments)) return refuse(parser.errorText());
    const QStringList positional = parser.positionalArguments();
    const qsizetype allowed = line.positionalName.isEmpty() ? 0 : 1;
    if (positional.size() > allowed)
        return refuse(QStringLiteral("unexpected argument '%1'.").arg(positional.at(allowed)));

    if (parser.isSet(help)) {
        outcome.start = false;
        // Qt names the program after argv[0], or not at all before the application
        // object exists; the usage line names it as the user knows it.
        const QString text = parser.helpText();
        const qsizetype rest = text.left(text.indexOf(u'\n')).lastIndexOf(QStringLiteral(" [options]"));
        outcome.out = QStringLiteral("Usage: ") + line.program + text.mid(rest);
    } else if (parser.isSet(version)) {
        outcome.start = false;
        outcome.out = QStringLiteral("%1 %2\n").arg(line.program, versionNumber());
    }
    outcome.positional = positional;
    for (const QCommandLineOption& o : switches)
        if (parser.isSet(o)) outcome.switches << o.names().constFirst();
    return outcome;
}

std::optional<int> handleCommandLine(const CommandLine& line, int argc, char** argv, QStringList* positional,
                                     QStringList* switches)
{
    if (argc <= 1) return std::nullopt;
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLineOutcome outcome = parseCommandLine(line, arguments);
    std::fputs(outcome.out.toLocal8Bit().constData(), stdout);
    std::fputs(outcome.err.toLocal8Bit().constData(), stderr);
    std::fflush(stdout);
    if (!outcome.start) return outcome.exitCode;
    if (positional) *positional = outcome.positional;
    if (switches) *switches = outcome.switches;
    return std::nullopt;
}

} // namespace kestra::desktop
