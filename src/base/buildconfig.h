#pragma once

#include "base/version.h"

#include <QString>
#include <QtGlobal>

namespace kestra {

// The constants that tell the two builds apart. Everything else is shared.
struct BuildConfig
{
    quint16 portBase = 0x3BC;
    QString databaseFileName; // inside the program directory, e.g. "Kestra3.db"
    QString title;            // "KESTRA3"

    // "3BC": the port base as the user reads it in captions and texts.
    QString portText() const;
    // "KESTRA3 (Port 3BC)"
    QString caption() const;
    // Name of the simulated-port file, e.g. "port-3BC".
    QString simulatedPortFileName() const;
    QString databasePath() const;
    QString simulatedPortPath() const;
    // The single-instance lock beside the database, e.g. "Kestra3.lock".
    QString lockPath() const;
};

BuildConfig kestra3Config();
BuildConfig kestra2Config();

QString versionNumber(); // "3.0.0"
QString versionText();   // "Version 3.0.0"

} // namespace kestra
