#pragma once

#include "base/buildconfig.h"

#include <QString>

namespace kestra::desktop {

// An XDG autostart entry that starts one program at login. The entry's
// existence is the whole state: nothing else remembers the choice.
struct AutostartEntry
{
    QString id;         // "net.kestra.kestra3": the file is <id>.desktop
    QString name;       // "KESTRA3"
    QString comment;    // one line
    QString executable; // absolute path of the program to start
    QString icon;       // icon name
};

// The entry that starts this build's program at `executable`.
AutostartEntry programAutostartEntry(const BuildConfig& build, const QString& executable);

// $XDG_CONFIG_HOME/autostart, by default ~/.config/autostart.
QString autostartDirectory();
QString autostartPath(const QString& id);

// The Exec value that starts `program` with no arguments, quoted and escaped as
// desktop entries require. Throws Failure for a path no entry can carry.
QString execValue(const QString& program);
QString autostartEntryText(const AutostartEntry& entry);

bool autostartEnabled(const QString& id);
// Writes the entry (0600 whatever the umask) or removes it. Throw Failure when
// the file cannot be written or removed; the entry is then as it was.
void enableAutostart(const AutostartEntry& entry);
void disableAutostart(const QString& id);

} // namespace kestra::desktop
