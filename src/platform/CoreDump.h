#pragma once

#include "platform/CrashDump.h"

// The state of the calling process as an ELF core file that gdb opens with `gdb PROGRAM DUMP`.
// The writer runs inside a crash handler, so it is async-signal-safe: system calls on static
// buffers, which also means one dump at a time (the crash handler lets only one thread in).
//
// Written for x86_64: the register notes follow its layout; elsewhere WriteCoreDump refuses and
// a crash takes its normal course without a dump.

namespace qarn::platform {

enum class CoreDumpKind {
    // Registers of the faulting thread, the live part of its stack, the module list (the mapped
    // files with their ranges and offsets), the modules' writable data and the loader's list of
    // libraries that gdb reads. Read-only file contents are left to the files the list names.
    ThreadAndModules,
    // All readable memory of the process, the other threads' stacks included. Their registers
    // are not available without a tracer, so gdb shows the faulting thread only.
    AllMemory,
};

// Writes a core of the calling process into the open file `fd`, from offset 0, and sets the
// file's size. `context.machineContext` holds the faulting thread's registers (a ucontext_t,
// from the signal or from getcontext). Unreadable pages become zeros; pages of zeros become
// holes of a sparse file. False when the file could not be written completely or the
// architecture is not supported.
bool WriteCoreDump(int fd, CoreDumpKind kind, const CrashContext& context);

// Creates the file at `path` and WriteCoreDump into it. Mode 0600, as a dump may hold any secret
// of the process. Whatever is at `path` already (a file another user made to read the dump from,
// a link, a FIFO that would hang the crashing process) makes it fail at once with errno EEXIST,
// untouched.
bool WriteCoreDumpFile(const char* path, CoreDumpKind kind, const CrashContext& context);

} // namespace qarn::platform
