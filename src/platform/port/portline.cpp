#include "platform/port/portline.h"

#include "platform/port/bits.h"

#include <QStringList>

namespace kestra::port {

QList<int> outputsNotDriven(std::optional<quint8> held, quint8 wanted)
{
    QList<int> outputs;
    for (int m = 1; m <= 8; ++m)
        if (!held || ((*held ^ wanted) & outputBit(m))) outputs << m;
    return outputs;
}

namespace {
QString outputsText(const QList<int>& outputs)
{
    if (outputs.size() == 8) return QStringLiteral("outputs");
    QStringList numbers;
    for (int m : outputs)
        numbers << QString::number(m);
    return (outputs.size() == 1 ? QStringLiteral("output ") : QStringLiteral("outputs ")) +
           numbers.join(QStringLiteral(", "));
}
} // namespace

PortLine describePort(const PortFacts& f)
{
    const QString prefix = QStringLiteral("Port %1: ").arg(f.portText);
    PortLine line;
    QStringList full{f.description.isEmpty() ? prefix + QStringLiteral("not used yet") : f.description};
    if (!f.writeProblem.isEmpty()) {
        const QString outputs = outputsText(outputsNotDriven(f.held, f.wanted));
        line.head = QStringLiteral("Port problem: %1 not driven: ").arg(outputs);
        line.rest = f.writeProblem;
        line.problem = true;
        full << QStringLiteral("The port does not hold what the window shows for %1: the last write failed "
                               "(%2). It is tried again at every scan.")
                    .arg(outputs, f.writeProblem);
    } else if (f.kind == BackendKind::Unusable) {
        line.head = QStringLiteral("Port problem: ");
        line.rest = f.description.startsWith(prefix) ? f.description.mid(prefix.size()) : f.description;
        line.problem = true;
    } else if (!f.readProblem.isEmpty()) {
        line.head = QStringLiteral("Port problem: inputs not read: ");
        line.rest = f.readProblem;
        line.problem = true;
    } else if (f.kind == BackendKind::Simulated) {
        line.head = QStringLiteral("Simulated port: ");
        line.rest = f.device;
    } else if (f.kind == BackendKind::Ppdev) {
        line.head = QStringLiteral("Printer port ");
        line.rest = f.device;
    } else {
        line.head = prefix + QStringLiteral("not used yet");
    }
    if (!f.readProblem.isEmpty() && f.kind != BackendKind::Unusable)
        full << QStringLiteral("The inputs could not be read: %1").arg(f.readProblem);
    if (!f.notice.isEmpty()) {
        if (!line.problem) line.rest += QStringLiteral(" (put back)");
        full << QStringLiteral("Port file: %1").arg(f.notice);
    }
    if (!f.advice.isEmpty()) full << f.advice;
    line.full = full.join(QLatin1Char('\n'));
    return line;
}

} // namespace kestra::port
