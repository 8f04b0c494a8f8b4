#pragma once

#include <QString>

namespace kestra {

// The system's text for an errno value ("Permission denied"), the same text
// wherever the program names the cause of a failed system call.
QString errnoText(int err);

} // namespace kestra
