// A program that installs the crash dump handler from the settings in the store
// (QARN_REGISTRY_ROOT) and then crashes on purpose, for the crash dump tests:
//
//     crash_probe <how> <reversed marker> [folder to remove before the crash]
//
// how: "segv" writes through a null pointer in CrashProbeNullWrite, "abort" calls abort() from
// CrashProbeAbort, "thread" does the null write on a second thread (from CrashProbeWorker),
// "overflow" recurses in CrashProbeRecurse until the stack (cut to 1 MiB) runs out,
// "worker-overflow" does the same on a worker thread (CThreadClass) started after the handler was
// installed, "exit" ends normally. The marker arrives reversed and is turned around into a heap
// buffer, so its readable form exists only on the heap (not in argv, not in the program). The probe
// prints "install <first> <second>": the results of installing twice.

#include "app/CrashDumpHandler.h"
#include "net/CThreadClass.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

char* volatile g_marker = nullptr;

__attribute__((noinline)) void CrashProbeNullWrite() {
    volatile int* volatile target = nullptr;
    *target = 42;
}

__attribute__((noinline)) void CrashProbeAbort() {
    std::abort();
}

volatile int g_calls = 0;

__attribute__((noinline)) void CrashProbeWorker() {
    CrashProbeNullWrite();
    g_calls = g_calls + 1; // keeps this frame: no tail call
}

volatile int g_deepest = 1 << 30; // never reached: the stack ends first

__attribute__((noinline)) int CrashProbeRecurse(int depth) {
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    if (depth >= g_deepest)
        return frame[0];
    return CrashProbeRecurse(depth + 1) + frame[0];
}

// A small stack overflows in a few milliseconds, also where the stack limit is unlimited.
void CrashProbeOverflow() {
    rlimit limit{};
    getrlimit(RLIMIT_STACK, &limit);
    limit.rlim_cur = 1 << 20;
    setrlimit(RLIMIT_STACK, &limit);
    CrashProbeRecurse(0);
}

// Its first pass recurses until its thread's stack runs out.
class CrashProbeOverflowWorker : public qarn::CThreadClass {
  public:
    bool TimeoutThread() override {
        CrashProbeRecurse(0);
        return false;
    }
};

void PutMarkerOnHeap(const char* reversed) {
    const size_t length = std::strlen(reversed);
    auto* marker = static_cast<char*>(std::malloc(length + 1));
    if (marker == nullptr)
        return;
    for (size_t i = 0; i < length; ++i)
        marker[i] = reversed[length - 1 - i];
    marker[length] = '\0';
    g_marker = marker;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s segv|abort|thread|overflow|worker-overflow|exit REVERSED-MARKER "
                     "[FOLDER-TO-REMOVE]\n",
                     argv[0]);
        return 2;
    }
    const bool first = qarn::InstallCrashDumpHandler();
    const bool second = qarn::InstallCrashDumpHandler();
    std::printf("install %d %d\n", first ? 1 : 0, second ? 1 : 0);
    std::fflush(stdout);
    PutMarkerOnHeap(argv[2]);
    if (argc > 3 && rmdir(argv[3]) != 0)
        std::perror("rmdir");
    if (std::strcmp(argv[1], "segv") == 0)
        CrashProbeNullWrite();
    else if (std::strcmp(argv[1], "abort") == 0)
        CrashProbeAbort();
    else if (std::strcmp(argv[1], "thread") == 0)
        std::thread(CrashProbeWorker).join();
    else if (std::strcmp(argv[1], "overflow") == 0)
        CrashProbeOverflow();
    else if (std::strcmp(argv[1], "worker-overflow") == 0) {
        CrashProbeOverflowWorker worker;
        worker.StartThread(nullptr, 0);
        pause(); // the worker's crash ends the process
    }
    return 0;
}
