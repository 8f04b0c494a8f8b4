#pragma once

#include <QString>
#include <QStringList>

namespace kestra::inputs {

// The directory, one "/" unless it already ends with one, then the name:
// "/" and "bell.wav" give "/bell.wav".
QString joinPath(const QString& dir, const QString& name);

// A name that stays inside its directory: not empty, not "." or "..", no separator.
// Stored names come from the settings file and may have been edited by hand.
bool isBareName(const QString& name);

// The path to play for a chosen name in a directory; empty when the name could
// lead elsewhere (the player then stays silent).
QString soundPath(const QString& dir, const QString& name);

// The files of a directory that match a pattern such as "*.WAV", whatever the
// case of their names, sorted without regard to case.
QStringList matchingFiles(const QString& dir, const QString& pattern);

// The regular, readable file at `path`; when there is none, one in the same
// directory whose name differs only in case (names were chosen on a system that
// ignores case). Empty when nothing fits.
QString findPlayableFile(const QString& path);

} // namespace kestra::inputs
