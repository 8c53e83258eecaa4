#include "platform/CrashDump.h"
#include "platform/WindowsApi.h"

#include <atomic>
#include <csignal>

namespace qarn::platform {

namespace {

// Room the system keeps on each thread for handling its stack overflow: enough for the filter
// and the dump writer to start.
constexpr ULONG kOverflowReserve = 64 * 1024;

std::atomic<CrashFilter> g_filter{nullptr};
std::atomic<DWORD> g_handlingThread{0};

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
    const DWORD self = GetCurrentThreadId();
    DWORD first = 0;
    if (!g_handlingThread.compare_exchange_strong(first, self) && first != self) {
        for (;;)
            Sleep(INFINITE); // the first crashing thread writes its dump and then ends the process
    }
    if (first == 0) { // not a second fault on the thread that is already handling one
        if (const CrashFilter filter = g_filter.load()) {
            const int code = pointers != nullptr && pointers->ExceptionRecord != nullptr
                                 ? static_cast<int>(pointers->ExceptionRecord->ExceptionCode)
                                 : 0;
            filter(CrashContext{code, pointers,
                                pointers != nullptr ? pointers->ContextRecord : nullptr});
        }
    }
    // On to the system's own handling, which ends the process (and reports it, if so set up).
    return EXCEPTION_CONTINUE_SEARCH;
}

// abort() ends the process through SIGABRT without an exception; the filter sees it as one of
// its own, with the exception pointers of this very place.
void OnAbort(int) {
    EXCEPTION_RECORD record{};
    record.ExceptionCode = static_cast<DWORD>(STATUS_FATAL_APP_EXIT);
    CONTEXT context{};
    RtlCaptureContext(&context);
    record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
    EXCEPTION_POINTERS pointers{&record, &context};
    OnUnhandledException(&pointers);
}

} // namespace

bool SetCrashFilter(CrashFilter filter) {
    g_filter.store(filter);
    const LPTOP_LEVEL_EXCEPTION_FILTER previous =
        SetUnhandledExceptionFilter(&OnUnhandledException);
    const auto previousAbort = std::signal(SIGABRT, &OnAbort);
    AddAlternateSignalStack();
    return previous != nullptr || (previousAbort != SIG_DFL && previousAbort != SIG_ERR);
}

bool AddAlternateSignalStack() {
    // Windows runs the handler on the faulting thread's own stack; after an overflow only what
    // was reserved here is left.
    ULONG reserve = kOverflowReserve;
    return SetThreadStackGuarantee(&reserve) != 0;
}

} // namespace qarn::platform
