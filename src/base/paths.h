#pragma once

#include <QString>

namespace kestra {

// The program directory: $XDG_DATA_HOME/Timer (by default ~/.local/share/Timer).
// Both builds share it. It holds the databases, the simulated ports and the
// fixed sound directory.
QString programDirectory();

// Empty when the user's directories are known: HOME is an absolute path, or
// both XDG_DATA_HOME and XDG_CONFIG_HOME are; otherwise why not.
QString homeProblem();

// Refuses without a home (see homeProblem()), then creates the program directory if missing and makes it
// private to the user. Returns an empty string on success, else a description of what went wrong.
QString ensureProgramDirectory();

// The user's home directory, where the sound directory list starts.
QString homeDirectory();

} // namespace kestra
