#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qarn::platform {

// File name of the running executable without its folder, e.g. "qarn-converter-config" for
// /usr/bin/qarn-converter-config. Empty optional when it cannot be read.
std::optional<std::string> GetModuleBaseName();

// Full path of the running executable; empty optional when it cannot be read.
std::optional<std::string> GetModuleFileName();

// Kernel id of the calling thread: unique among the threads of the machine while they run.
uint32_t GetCurrentThreadId();

// The debug-output channel: the text goes to standard error as one write, so that lines of
// several threads do not mix. A text without a final line feed gets one.
void OutputDebugString(std::string_view text);

// Switches the debug-output channel on (the default) or off for the whole process. The channel
// is meant for a developer watching the program; a command-line program whose standard error
// carries its one-line failure reasons turns it off unless asked for it.
void SetDebugOutputEnabled(bool enabled);

} // namespace qarn::platform
