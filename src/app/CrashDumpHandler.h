#pragma once

#include "diag/DiagnosticsConfiguration.h"
#include "platform/CoreDump.h"
#include "platform/CrashDump.h"

#include <cstdint>
#include <span>
#include <string>

namespace qarn {

// Reads the diagnostics settings once and, when they ask for crash dumps (enabled, a dump type,
// a folder), installs CrashDumpFilter for the fatal signals. Call it once at start, before other
// threads exist: the filter reads the process-wide storage filled here without a lock. Returns
// true when a crash handler had been installed before; nothing needs the result.
bool InstallCrashDumpHandler();

// Writes the dump of a crash to "<folder>/<program file name>.<tick count>.mdmp"
// (WriteCrashDumpToFreshFile); dump type 2 gives all readable memory, any other the faulting
// thread, its stack and the module list. Runs inside the signal handler, so it stays
// async-signal-safe.
void CrashDumpFilter(const platform::CrashContext& context);

// Names tried before a dump is given up.
inline constexpr uint32_t kCrashDumpNameTries = 64;

// Writes the dump into a file of its own: the first name of FormatCrashDumpFileName, for
// `tickCount`, `tickCount` + 1 and so on, that nothing occupies yet. A name that is taken (a
// file someone made beforehand to read the dump from, a link, a FIFO) is never opened. `name`
// receives the name used. False when kCrashDumpNameTries names were taken, a name does not fit,
// or the dump could not be written. Async-signal-safe.
bool WriteCrashDumpToFreshFile(std::span<char> name, const char* folder, const char* modulePath,
                               uint32_t tickCount, platform::CoreDumpKind kind,
                               const platform::CrashContext& context);

// The storage half of InstallCrashDumpHandler for settings that loaded: zeroes the stored folder,
// stores the dump type and, when dumps are enabled with a type and a folder, stores the folder
// (at most kMaxCrashDumpFolderLength bytes, cut before a character that would not fit whole) and
// the program's path. True when a handler should then be installed.
bool StoreCrashDumpSettings(const DiagnosticsConfiguration& settings);

// The longest folder kept, in bytes (UTF-8).
inline constexpr size_t kMaxCrashDumpFolderLength = 4095;

// The stored values, for tests.
std::string StoredCrashDumpFolder();
int32_t StoredCrashDumpType();

// The dump file's name, without allocating (it runs at crash time):
//   ("/var/crash", "/usr/bin/tool", 5234781) -> "/var/crash/tool.5234781.mdmp"
//   ("",           "/usr/bin/tool", 5234781) -> "/usr/bin/tool.5234781.mdmp"
// False, with `out` unchanged or partly written, when a folder is given and the program path
// has no '/', when the program path is empty, or when the name (with its NUL) does not fit.
bool FormatCrashDumpFileName(std::span<char> out, const char* folder, const char* modulePath,
                             uint32_t tickCount);

} // namespace qarn
