#pragma once

#include <QString>
#include <array>

namespace kestra::panel {

// The polarity option as the program's database holds it.
struct PolarityReading
{
    bool readable = false;    // the record could be read
    bool fiveVoltsOn = false; // SOURCEPORT "True"; anything but a flag reads as unchecked, as in the program
    QString note;             // why it could not be read, or what was odd about it
    // Read in the same look: where outputs 1 to 8 are (Loc1 .. Loc8), empty where not known.
    std::array<QString, 8> locations;
};

// Reads SOURCEPORT and the locations read-only and without waiting: a missing file, a locked one
// or one without the settings record gives readable == false with a note. Never
// creates or changes the file.
PolarityReading readPolarity(const QString& databasePath);

} // namespace kestra::panel
