#pragma once

// A handler for the fatal signals that runs a filter (which writes a dump, see CoreDump.h) on an
// alternate stack and then lets the signal end the process as it would have without it.

namespace qarn::platform {

// What the system handed the handler for one fatal signal; valid only while the filter runs.
// On Windows the handler is the unhandled-exception filter (and abort's SIGABRT): `signal` holds
// the exception code, `signalInfo` the EXCEPTION_POINTERS, `machineContext` the CONTEXT.
struct CrashContext {
    int signal = 0;
    const void* signalInfo = nullptr;     // siginfo_t of the signal, may be null
    const void* machineContext = nullptr; // ucontext_t of the interrupted thread
};

// Called on the crashing thread, on its alternate stack when it has one, with the fatal signals
// blocked. It must be async-signal-safe: system calls on static or stack buffers only, no
// allocation, no locks, no stdio. When it returns, the signal's default action takes over, so
// the process still ends with that signal (and the system's own core dump, if enabled, follows).
using CrashFilter = void (*)(const CrashContext& context);

// Installs `filter` for SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS and SIGTRAP, and gives
// the calling thread an alternate signal stack. Returns true when one of these signals had a
// handler before (ours from an earlier call, or someone else's, which is replaced).
// While one thread runs the filter, a second crashing thread waits for the process to end, so a
// dump being written is not cut short.
bool SetCrashFilter(CrashFilter filter);

// Gives the calling thread its own alternate signal stack (released when the thread ends) unless
// it has one. Only a thread with one survives a stack overflow long enough to write a dump; the
// thread that calls SetCrashFilter gets one there, every CThreadClass worker when it starts, and
// other threads started later call this themselves. Without it the filter runs on the thread's own
// stack, which serves every other crash.
bool AddAlternateSignalStack();

} // namespace qarn::platform
