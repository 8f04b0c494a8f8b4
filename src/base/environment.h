#pragma once

namespace kestra {

// A relative XDG base directory ($XDG_DATA_HOME=reldata) would move the program
// directory, and with it the database and the instance lock, with the working
// directory. The XDG rules call such a path invalid: it is removed from the
// environment, so that Qt and every later reader fall back to the default
// (~/.local/share, ~/.config, Qt's own runtime directory). Call it first, before
// anything reads these variables.
void ignoreRelativeXdgDirectories();

} // namespace kestra
