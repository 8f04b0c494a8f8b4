#include "panel/panellogic.h"
#include "panel/panelwindow.h"

#include <QApplication>
#include <QCommandLineParser>
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
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kestra-panel"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows the outputs of the simulated printer port of kestra3 (3BC) or kestra2 (278) "
                       "and sets its five inputs."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("port"), QStringLiteral("3BC or 278 (asks when left out)"));
    parser.process(app);

    std::optional<BuildConfig> build;
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty()) {
        build = askForBuild();
        if (!build) return 0;
    } else {
        build = panel::buildForArgument(args.first());
        if (!build || args.size() > 1) {
            std::fprintf(stderr, "kestra-panel: the port is 3BC or 278, not \"%s\"\n",
                         qPrintable(args.join(' ')));
            return 2;
        }
    }

    panel::PanelWindow window(*build);
    window.show();
    return app.exec();
}
