#pragma once

#include "platform/port/port.h"

#include <QList>
#include <QString>
#include <optional>

namespace kestra::port {

// What the program knows about its port at one moment.
struct PortFacts
{
    QString portText; // "3BC"
    BackendKind kind = BackendKind::NotChosen;
    QString description; // Port::description()
    QString device;      // Port::device()
    // Why the last write of the output byte failed; empty when it went through.
    QString writeProblem;
    std::optional<quint8> held; // the byte last put on the port, when known
    quint8 wanted = 0;          // the byte for what the window shows
    QString readProblem;        // why the last status read failed
    QString notice;             // the latest mend of the port file, with its time
    QString advice;             // how to watch a simulated port
};

// The port as the status line shows it: a head that is never cut off, the rest
// (a path, a reason) that may be elided in the middle, the whole story for the
// tool tip and the About window, and whether it is a problem (shown in red).
struct PortLine
{
    QString head;
    QString rest;
    QString full;
    bool problem = false;
};

PortLine describePort(const PortFacts& facts);

// Outputs (1..8) whose state on the port may differ from what the window shows:
// those whose bits differ, or every output when the port's byte is unknown.
QList<int> outputsNotDriven(std::optional<quint8> held, quint8 wanted);

} // namespace kestra::port
