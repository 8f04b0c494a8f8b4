#include "base/environment.h"

#include <QtDebug>

namespace kestra {

void ignoreRelativeXdgDirectories()
{
    for (const char* name :
         {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
        const QString value = qEnvironmentVariable(name);
        if (value.isEmpty() || value.startsWith(QLatin1Char('/'))) continue;
        qWarning().noquote()
            << QStringLiteral("%1=%2 is not an absolute path and is ignored").arg(QLatin1String(name), value);
        qunsetenv(name);
    }
}

} // namespace kestra
