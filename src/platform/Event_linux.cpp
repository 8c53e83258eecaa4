#include "platform/Event.h"
#include "platform/Process.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

// The thread sanitizer does not know that a write to an eventfd and the read that observes it
// order the two threads; without these annotations a Set -> Wait handoff looks like a race.
#if defined(__SANITIZE_THREAD__)
#define QARN_EVENT_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QARN_EVENT_TSAN 1
#endif
#endif

#ifdef QARN_EVENT_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace qarn::platform {

namespace {

using Clock = std::chrono::steady_clock;

void AnnotateRelease([[maybe_unused]] void* addr) {
#ifdef QARN_EVENT_TSAN
    __tsan_release(addr);
#endif
}

void AnnotateAcquire([[maybe_unused]] void* addr) {
#ifdef QARN_EVENT_TSAN
    __tsan_acquire(addr);
#endif
}

// Milliseconds left until `deadline` for poll, rounded up so that a wait never ends early.
int RemainingMs(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Keeps an event's waiter count raised for the life of one wait, so that Pulse sees the waiter.
class WaiterCount {
  public:
    WaiterCount(std::atomic<int32_t>* counter) : m_counter(counter) {
        if (m_counter != nullptr)
            m_counter->fetch_add(1, std::memory_order_acq_rel);
    }
    ~WaiterCount() {
        if (m_counter != nullptr)
            m_counter->fetch_sub(1, std::memory_order_acq_rel);
    }
    WaiterCount(const WaiterCount&) = delete;
    WaiterCount& operator=(const WaiterCount&) = delete;

  private:
    std::atomic<int32_t>* m_counter;
};

} // namespace

Event::Event(ResetMode mode) : m_mode(mode) {
    m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_fd < 0)
        OutputDebugString(std::string("Event::Event: eventfd failed: ") + std::strerror(errno));
}

bool Event::IsValid() const {
    return m_fd >= 0;
}

Event::~Event() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Event::Set() {
    if (m_fd < 0)
        return false;
    AnnotateRelease(this);
    const uint64_t one = 1;
    for (;;) {
        if (::write(m_fd, &one, sizeof one) == static_cast<ssize_t>(sizeof one))
            return true;
        if (errno == EINTR)
            continue;
        // EAGAIN: the counter is at its maximum, so the event is signalled already.
        return errno == EAGAIN;
    }
}

bool Event::Reset() {
    if (m_fd < 0)
        return false;
    uint64_t count = 0;
    for (;;) {
        if (::read(m_fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count))
            return true;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN; // not signalled: nothing to clear
    }
}

bool Event::Pulse() {
    if (m_fd < 0)
        return false;
    if (m_waiters.load(std::memory_order_acquire) == 0)
        return true;
    if (!Set())
        return false;
    if (m_mode == ResetMode::Auto)
        return true; // the one waiter that consumes it leaves the event non-signalled
    const auto settle = Clock::now() + std::chrono::milliseconds(kPulseSettleMs);
    while (m_waiters.load(std::memory_order_acquire) > 0 && Clock::now() < settle)
        std::this_thread::yield();
    return Reset();
}

bool Event::TryConsume() {
    if (m_mode == ResetMode::Manual) {
        AnnotateAcquire(this);
        return true;
    }
    uint64_t count = 0;
    for (;;) {
        if (::read(m_fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
            AnnotateAcquire(this);
            return true;
        }
        if (errno != EINTR)
            return false; // EAGAIN: another waiter took the signal first
    }
}

WaitResult Event::Wait(int32_t timeoutMs) {
    return WaitAny(*this, nullptr, timeoutMs);
}

WaitResult Event::WaitAny(Event& first, Event* second, int32_t timeoutMs) {
    if (!first.IsValid() || second == &first || (second != nullptr && !second->IsValid()))
        return WaitResult::Failed;
    const bool infinite = timeoutMs < 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
    // A bare test (time-out 0) is not a waiter: a Pulse must not leave a signal behind for it.
    const bool counted = timeoutMs != 0;
    const WaiterCount firstWaiter(counted ? &first.m_waiters : nullptr);
    const WaiterCount secondWaiter(counted && second != nullptr ? &second->m_waiters : nullptr);

    pollfd fds[2] = {{first.m_fd, POLLIN, 0}, {second != nullptr ? second->m_fd : -1, POLLIN, 0}};
    const nfds_t count = second != nullptr ? 2 : 1;
    for (;;) {
        fds[0].revents = 0;
        fds[1].revents = 0;
        const int ready = ::poll(fds, count, infinite ? -1 : RemainingMs(deadline));
        if (ready < 0 && errno != EINTR)
            return WaitResult::Failed;
        if ((fds[0].revents | fds[1].revents) & (POLLERR | POLLNVAL))
            return WaitResult::Failed;
        if ((fds[0].revents & POLLIN) && first.TryConsume())
            return WaitResult::First;
        if ((fds[1].revents & POLLIN) && second->TryConsume())
            return WaitResult::Second;
        // Nothing claimed: poll timed out, a signal went to another waiter, or EINTR.
        if (!infinite && RemainingMs(deadline) == 0)
            return WaitResult::Timeout;
    }
}

} // namespace qarn::platform
