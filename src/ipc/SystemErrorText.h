#pragma once

#include "platform/Compiler.h"

#include <string>

namespace qarn {

// The system's text for an error code, trimmed of surrounding white space, as the local messaging
// classes put it into their log lines: 2 -> "No such file or directory"; a code the system has no
// text for -> "unknown error code 4711".
std::string SystemErrorText(int code);

// printf-style formatting into a std::string, for the log lines.
QARN_PRINTF_FORMAT(1, 2) std::string FormatText(const char* format, ...);

} // namespace qarn
