#include "platform/CrashDump.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qarn::platform {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS, SIGTRAP};
constexpr size_t kAlternateStackSize = 64 * 1024;

std::atomic<CrashFilter> g_filter{nullptr};
std::atomic<pid_t> g_handlingThread{0};

// Hands the signal to its default action, which ends the process with it: the signal is blocked
// while its handler runs, so the raised one stays pending until the mask lets it through.
void ContinueWithDefaultAction(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
}

void OnFatalSignal(int signal, siginfo_t* info, void* machineContext) {
    const auto self = static_cast<pid_t>(syscall(SYS_gettid));
    pid_t first = 0;
    if (!g_handlingThread.compare_exchange_strong(first, self) && first != self) {
        for (;;)
            pause(); // the first crashing thread writes its dump and then ends the process
    }
    if (first == 0) { // not a second signal on the thread that is already handling one
        const int savedErrno = errno;
        if (const CrashFilter filter = g_filter.load())
            filter(CrashContext{signal, info, machineContext});
        errno = savedErrno;
    }
    ContinueWithDefaultAction(signal);
}

// The calling thread's alternate stack with a guard page below it; given back when the thread
// ends.
class AlternateStack {
  public:
    AlternateStack() = default;
    AlternateStack(const AlternateStack&) = delete;
    AlternateStack& operator=(const AlternateStack&) = delete;
    ~AlternateStack() {
        if (m_base == nullptr)
            return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(m_base, m_size);
    }

    bool Create() {
        const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t size = page + kAlternateStackSize;
        void* base =
            mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED)
            return false;
        mprotect(base, page, PROT_NONE);
        stack_t stack{};
        stack.ss_sp = static_cast<char*>(base) + page;
        stack.ss_size = kAlternateStackSize;
        if (sigaltstack(&stack, nullptr) != 0) {
            munmap(base, size);
            return false;
        }
        m_base = base;
        m_size = size;
        return true;
    }

  private:
    void* m_base = nullptr;
    size_t m_size = 0;
};

thread_local AlternateStack t_alternateStack;

} // namespace

bool AddAlternateSignalStack() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0)
        return true;
    return t_alternateStack.Create();
}

bool SetCrashFilter(CrashFilter filter) {
    AddAlternateSignalStack();
    g_filter.store(filter);
    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    // No SA_RESETHAND: a second thread that crashes while the first writes the dump must wait in
    // the handler, not end the process half-way through the file. The fatal signals stay blocked
    // while the handler runs, so a fault inside it still ends the process at once.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : kFatalSignals)
        sigaddset(&action.sa_mask, signal);
    bool hadHandler = false;
    for (const int signal : kFatalSignals) {
        struct sigaction previous {};
        if (sigaction(signal, &action, &previous) != 0)
            continue;
        const bool custom = (previous.sa_flags & SA_SIGINFO) != 0
                                ? previous.sa_sigaction != nullptr
                                : previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN;
        hadHandler = hadHandler || custom;
    }
    return hadHandler;
}

} // namespace qarn::platform
