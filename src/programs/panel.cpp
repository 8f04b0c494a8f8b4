#include "base/diagnostics.h"
#include "base/environment.h"
#include "logic/panel/panellogic.h"
#include "platform/desktop/commandline.h"
#include "platform/desktop/icon.h"
#include "platform/desktop/installation.h"
#include "views/panel/panelwindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QInputDialog>
#include <cstdio>

using namespace kestra;

namespace {
// Without an argument: the port whose file exists, when only one does; else ask.
std::optional<BuildConfig> askForBuild()
{
    const BuildConfig three = kestra3Config();
    const BuildConfig two = kestra2Config();
    const bool haveThree = QFileInfo::exists(three.simulatedPortPath());
    const bool haveTwo = QFileInfo::exists(two.simulatedPortPath());
    if (haveThree != haveTwo) return haveThree ? three : two;
    bool ok = false;
    const QString choice =
        QInputDialog::getItem(nullptr, QStringLiteral("KESTRA virtual port"),
                              QStringLiteral("Which port? 3BC is kestra3, 278 is kestra2."),
                              {three.portText(), two.portText()}, 0, false, &ok);
    if (!ok) return std::nullopt;
    return panel::buildForArgument(choice);
}
} // namespace

int main(int argc, char** argv)
{
    // A descriptor 0, 1 or 2 left closed would be taken by the first file the panel opens.
    occupyStandardDescriptors();
    ignoreRelativeXdgDirectories();
    // Read before the application object exists: --help needs no display, and a
    // wrong port is told without opening a window.
    const desktop::CommandLine commandLine{
        .program = QStringLiteral("kestra-panel"),
        .description = QStringLiteral("Shows the outputs of the simulated printer port of kestra3 (3BC) or "
                                      "kestra2 (278) and sets its five inputs."),
        .positionalName = QStringLiteral("port"),
        .positionalHelp = QStringLiteral("3BC or 278 (asks when left out)"),
        .switches = {}};
    QStringList args;
    if (const auto exitCode = desktop::handleCommandLine(commandLine, argc, argv, &args)) return *exitCode;
    std::optional<BuildConfig> build;
    if (!args.isEmpty()) {
        build = panel::buildForArgument(args.first());
        if (!build) {
            std::fprintf(stderr, "kestra-panel: the port is 3BC or 278, not \"%s\"\n",
                         qPrintable(args.first()));
            return desktop::kUsageExitCode;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kestra-panel"));
    QApplication::setApplicationVersion(versionNumber());
    desktop::setDesktopIdentity(desktop::kPanelId);
    if (!build) {
        build = askForBuild();
        if (!build) return 0;
    }

    panel::PanelWindow window(*build);
    window.show();
    return app.exec();
}
