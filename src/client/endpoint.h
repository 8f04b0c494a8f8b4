#pragma once

#include "base/buildconfig.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace kestra::api {

// The version of the API's vocabulary: every answer and event carries it as "api".
inline constexpr int kVersion = 1;

// The port the API listens on unless the placement file says otherwise (group
// "Api", key "Port"): 20000 plus the printer port's base, 20956 for kestra3 and
// 20632 for kestra2, so that both builds can run side by side; below the
// kernel's range of ports for outgoing connections (32768 on), one of which
// would otherwise hold the port now and then.
quint16 defaultPort(const BuildConfig& build);
// The port of the placement file, or the default; 0 means any free port.
quint16 configuredPort(const BuildConfig& build);

// Where a running switch tells its clients how to reach it: a file readable by
// its user only in $XDG_RUNTIME_DIR/kestra (0700), or without a runtime
// directory in the program directory's "run" (0700).
QString runtimeDirectory();
QString endpointPath(const BuildConfig& build);

// What the file holds: the port on 127.0.0.1, the switch's process and the token
// every request must carry.
struct Endpoint
{
    quint16 port = 0;
    qint64 pid = 0;
    QByteArray token;
};

// Reads the file; nothing (and why) when there is none or it cannot be used.
std::optional<Endpoint> readEndpoint(const BuildConfig& build, QString* why = nullptr);
// Writes it whole (a new file renamed over the old one), 0600 in a 0700
// directory. Returns what went wrong, or an empty text.
QString writeEndpoint(const BuildConfig& build, const Endpoint& endpoint);
// Removes it, if it is still the one of process `pid`.
void removeEndpoint(const BuildConfig& build, qint64 pid);

// 32 random bytes from the kernel, as 64 hexadecimal digits.
QByteArray newToken();

} // namespace kestra::api
