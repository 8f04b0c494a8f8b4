#include "base/errnotext.h"

#include <cstring>

namespace kestra {

QString errnoText(int err)
{
    // strerror_r: the history writes from a thread of its own.
    char buffer[256];
    return QString::fromLocal8Bit(::strerror_r(err, buffer, sizeof buffer));
}

} // namespace kestra
