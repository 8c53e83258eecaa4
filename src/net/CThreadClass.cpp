#include "net/CThreadClass.h"

#include "platform/CrashDump.h"
#include "platform/Process.h"

#include <limits>
#include <system_error>
#include <utility>

namespace qarn {

namespace {

// The loop's time-out for the event wait: 0xFFFFFFFF (and anything beyond INT32_MAX) -> no limit.
int32_t ToWaitMs(uint32_t timeoutMs) {
    if (timeoutMs > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
        return platform::Event::kInfinite;
    return static_cast<int32_t>(timeoutMs);
}

} // namespace

CThreadClass::CThreadClass() {
    ThreadRegistry::CreateTable();
}

CThreadClass::~CThreadClass() {
    CThreadClass::StopThread();
}

bool CThreadClass::EventThread(int32_t /*index*/) {
    return true;
}

bool CThreadClass::TimeoutThread() {
    return true;
}

bool CThreadClass::IsStopRequested() const {
    const ThreadEntry* entry = m_entry.load(std::memory_order_acquire);
    return entry == nullptr || entry->stopRequested.load(std::memory_order_acquire);
}

bool CThreadClass::StartThread(platform::Event* waitObject, uint32_t waitTimeoutMs) {
    if (IsRunning())
        return false;
    JoinEndedWorker();
    m_waitObject = waitObject;
    m_waitTimeoutMs = waitTimeoutMs;
    // A worker that left on its own at shutdown may have missed the last stop signal.
    m_stopEvent.Reset();

    // The slot is taken here, before the thread runs, so that a StopThread right after this
    // call always reaches the worker. Without a slot the new worker ends at once.
    WorkerStart start{ThreadRegistry::Allocate(this), waitObject, ToWaitMs(waitTimeoutMs),
                      std::make_shared<platform::Event>(platform::ResetMode::Manual)};
    m_entry.store(start.entry, std::memory_order_release);
    m_done = start.done;
    try {
        m_thread = std::thread(&CThreadClass::WorkerMain, this, start);
    } catch (const std::system_error&) {
        // Not reported, as a start whose thread never ran: the object stays stopped.
        if (start.entry != nullptr) {
            m_entry.store(nullptr, std::memory_order_release);
            ThreadRegistry::Release(*start.entry); // the worker's share
            ThreadRegistry::Release(*start.entry); // the owner's share
        }
        m_done.reset();
    }
    std::this_thread::yield();
    return true;
}

void CThreadClass::StopThread() {
    std::this_thread::yield();
    ThreadEntry* entry = m_entry.load(std::memory_order_acquire);
    if (entry == nullptr) {
        std::this_thread::yield();
        JoinEndedWorker(); // a worker that found no slot
        return;
    }
    entry->stopRequested.store(true, std::memory_order_release);
    if (entry->owner.load(std::memory_order_acquire) == nullptr) {
        // The worker already left (at shutdown, or when its stop event failed): no signal to send.
        LetGoOfEntry();
        JoinEndedWorker();
        return;
    }
    std::this_thread::yield();
    m_stopEvent.Set();
    LetGoOfEntry();
    AwaitWorker();
}

void CThreadClass::LetGoOfEntry() {
    ThreadEntry* entry = m_entry.exchange(nullptr, std::memory_order_acq_rel);
    if (entry != nullptr)
        ThreadRegistry::Release(*entry);
}

void CThreadClass::JoinEndedWorker() {
    if (m_thread.joinable())
        m_thread.join();
    m_done.reset();
}

void CThreadClass::AwaitWorker() {
    platform::WaitResult ended = platform::WaitResult::Failed;
    if (m_done) {
        do {
            ended = m_done->Wait(kStopWaitStepMs);
        } while (ended == platform::WaitResult::Timeout && !IsShuttingDown());
    }
    if (ended == platform::WaitResult::Timeout) {
        // The process is going down and the worker is stuck in a step. Joining would hang the
        // exit, and a std::thread must be joined or detached before it is destroyed, so it is let
        // go. Once its step returns it finds its stop flag set and leaves, touching only its
        // registry slot and `done`, which it co-owns, never this object.
        m_thread.detach();
        m_done.reset();
        return;
    }
    // Ended, or the completion event is unusable: the worker has its stop request and its stop
    // signal, so it ends by itself.
    JoinEndedWorker();
}

void CThreadClass::WorkerMain(CThreadClass* self, WorkerStart start) {
    if (start.entry != nullptr) {
        ThreadEntry& entry = *start.entry;
        entry.threadId.store(platform::GetCurrentThreadId(), std::memory_order_release);
        // A stack overflow in a step leaves no stack for the crash handler: it can write its dump
        // only on a stack of its own.
        platform::AddAlternateSignalStack();
        const bool byStopEvent = self->RunLoop(entry, start.waitObject, start.waitTimeoutMs);
        // Keep the slot, and so the owner's running state, until StopThread, and take the
        // signal it sets; at shutdown nobody may come, so leave at once.
        if (!byStopEvent && !IsShuttingDown())
            self->m_stopEvent.Lock(platform::Event::kInfinite);
        entry.owner.store(nullptr, std::memory_order_release);
        ThreadRegistry::Release(entry);
    }
    start.done->Set();
}

bool CThreadClass::RunLoop(ThreadEntry& entry, platform::Event* waitObject, int32_t waitTimeoutMs) {
    std::atomic<bool>& stop = entry.stopRequested;
    platform::Event& stopEvent = m_stopEvent.GetEvent();
    while (!stop.load(std::memory_order_acquire)) {
        switch (platform::Event::WaitAny(stopEvent, waitObject, waitTimeoutMs)) {
        case platform::WaitResult::First:
            stopEvent.Reset();
            stop.store(true, std::memory_order_release);
            return true;
        case platform::WaitResult::Second:
            waitObject->Reset(); // a manual-reset event stays signalled otherwise
            if (stop.load(std::memory_order_acquire))
                return false;
            if (!EventThread(1))
                stop.store(true, std::memory_order_release);
            break;
        case platform::WaitResult::Timeout:
            if (stop.load(std::memory_order_acquire))
                return false;
            if (!TimeoutThread())
                stop.store(true, std::memory_order_release);
            break;
        case platform::WaitResult::Failed:
            stop.store(true, std::memory_order_release);
            break;
        }
    }
    return false;
}

void CThreadClass::SetShutdown() {
    ThreadRegistry::SetShutdown(true);
}

bool CThreadClass::IsShuttingDown() {
    return ThreadRegistry::IsShuttingDown();
}

void CThreadClass::ResetShutdownForTesting() {
    ThreadRegistry::SetShutdown(false);
}

bool CThreadClass::FreeRegistry() {
    return ThreadRegistry::FreeTable();
}

} // namespace qarn
