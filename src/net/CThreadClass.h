#pragma once

#include "net/CManualEvent.h"
#include "net/ThreadRegistry.h"
#include "platform/Event.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace qarn {

// Base of every object that owns a worker thread. The worker waits in a loop on the object's stop
// event and, when given, on one more event, with a time-out; each time-out runs TimeoutThread, each
// signal of the second event runs EventThread. A step that returns false ends the steps, but the
// worker keeps its registry slot (the object keeps reporting IsRunning) until StopThread; while
// the process shuts down it leaves at once instead.
//
//     class CPump : public CThreadClass {
//         bool TimeoutThread() override { return DrainQueue(); }   // every 50 ms of idle wait
//         ~CPump() override { StopThread(); }
//     };
//     pump.StartThread(nullptr, 50); ... pump.StopThread();
//
// A derived class whose steps use its own members must call StopThread in its own destructor: the
// base destructor runs after those members are gone. StartThread and StopThread are called on the
// owner's thread; the steps run on the worker.
class CThreadClass {
  public:
    static constexpr uint32_t kDefaultWaitTimeoutMs = 100;
    // StopThread waits for the worker in steps of this length, re-checking the shutdown flag.
    static constexpr int32_t kStopWaitStepMs = 1000;

    CThreadClass();
    virtual ~CThreadClass();

    CThreadClass(const CThreadClass&) = delete;
    CThreadClass& operator=(const CThreadClass&) = delete;

    // Starts the worker with an optional second event and the loop's time-out in milliseconds
    // (values above INT32_MAX, such as 0xFFFFFFFF, wait without limit). False, with nothing
    // changed, while a worker runs. Otherwise true, also when no registry slot could be had
    // (table full, or its lock not acquired within 200 ms) or the thread could not be created: the
    // object then stays stopped and no step runs.
    virtual bool StartThread(platform::Event* waitObject, uint32_t waitTimeoutMs);

    // Asks the worker to stop and waits for it without limit, except while the process shuts down:
    // then it gives up after the first second and leaves the worker behind. Returns at once when
    // no worker runs.
    virtual void StopThread();

    // Runs on the worker when the second event is signalled (`index` is always 1). False ends the
    // steps.
    virtual bool EventThread(int32_t index);

    // Runs on the worker each time its wait times out. False ends the steps.
    virtual bool TimeoutThread();

    // A worker holds a registry slot: from StartThread until StopThread.
    bool IsRunning() const { return m_entry.load(std::memory_order_acquire) != nullptr; }

    // True when no worker runs or it was asked to stop; safe to call from the worker's steps, e.g.
    // to drop work that arrives after a stop request.
    bool IsStopRequested() const;

    platform::Event* GetWaitObject() const { return m_waitObject; }
    uint32_t GetWaitTimeoutMs() const { return m_waitTimeoutMs; }
    const std::string& GetName() const { return m_name; }
    void SetName(const std::string& name) { m_name = name; }

    // Set once the application starts to tear down: workers then leave without waiting for their
    // stop, and StopThread gives up on a stuck worker after one second.
    static void SetShutdown();
    static bool IsShuttingDown();
    // Clears the shutdown flag again; only for tests, and only once every worker left behind by a
    // StopThread during shutdown has ended (such a worker would otherwise wait on a stop event of
    // an object that may be gone).
    static void ResetShutdownForTesting();

    // Deletes the registry table when no worker holds a slot (false otherwise); the next start
    // creates a fresh one.
    static bool FreeRegistry();

  private:
    // Everything the worker needs, handed over at start so that it never reads the object's
    // fields: a worker left behind at shutdown only touches the slot and `done`, which it co-owns.
    struct WorkerStart {
        ThreadEntry* entry;
        platform::Event* waitObject;
        int32_t waitTimeoutMs;
        std::shared_ptr<platform::Event> done;
    };

    static void WorkerMain(CThreadClass* self, WorkerStart start);
    // The wait loop; true when it ended by the stop event.
    bool RunLoop(ThreadEntry& entry, platform::Event* waitObject, int32_t waitTimeoutMs);
    // Clears `m_entry` and lets go of the slot.
    void LetGoOfEntry();
    // Joins a worker that is known to end at once (no slot, or already out of its loop).
    void JoinEndedWorker();
    // Waits for the worker in one-second steps; detaches it when shutdown cuts the wait short.
    void AwaitWorker();

    std::atomic<ThreadEntry*> m_entry{nullptr};
    std::thread m_thread;
    // Set by the worker as its very last act; shared so that it outlives a detached worker's owner.
    std::shared_ptr<platform::Event> m_done;
    CManualEvent m_stopEvent;
    platform::Event* m_waitObject = nullptr;
    uint32_t m_waitTimeoutMs = kDefaultWaitTimeoutMs;
    std::string m_name;
};

} // namespace qarn
