#pragma once

#include "ipc/CSharedQueue.h"
#include "net/CMsg.h"
#include "net/CMsgQueue.h"
#include "net/CThreadClass.h"
#include "net/CTimedCriticalSection.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace qarn {

// An endpoint on a shared queue (CSharedQueue): the client side opens the queue another process
// created and sends serialised CMsg records into it (SendMsg); the service side creates the queue
// (Create) and its worker reads the records into a CMsgQueue. Sends and closes of one object are
// serialised by a timed lock (kSendLockMs, kCloseLockMs); the shared queue's lock word orders the
// writers of all processes.
class CMailslotS : public CThreadClass, public CSharedQueue {
  public:
    static constexpr int32_t kSendLockMs = 300;
    static constexpr int32_t kCloseLockMs = 1000;
    static constexpr int kRecordsPerStep = 64;

    CMailslotS();
    ~CMailslotS() override;

    // Opens the shared queue "Global\" + id that another process created. False (logged) when
    // it is not there or may not be joined. No worker is started.
    bool Open(bool flag, const std::string& id, CMsgQueue* queue);

    // The creating side: makes the queue (blockSize 0: 65536 bytes; `group`: see
    // CSharedQueue::SetAccessGroup) and starts the worker, which every `waitMs` moves what
    // arrived into `queue` (or an owned one). False (logged) when the queue cannot be made.
    bool Create(const std::string& id, CMsgQueue* queue, uint32_t blockSize,
                std::optional<gid_t> group, uint32_t waitMs);

    // Sends `msg` with its text set to command + suffix. False (logged) when the queue is not
    // open, the message cannot be serialised, the lock is not had in time, or the write fails
    // (which also closes the endpoint).
    bool SendMsg(const std::u16string& command, const std::u16string& suffix, CMsg& msg);

    // Stops the worker, closes the shared queue, deletes an owned queue.
    void Close() override;

    // Offered every record the worker reads; true when the override took it.
    virtual bool OnMessage(std::unique_ptr<CMsg>& msg);

    bool TimeoutThread() override;
    bool EventThread(int32_t index) override;

    const std::string& GetId() const { return m_id; }
    CMsgQueue* GetQueue() const { return m_queue; }

  private:
    // The queue's own opening is reached through Open and Create above.
    using CSharedQueue::Open;

    void SetUpQueue(const std::string& id, CMsgQueue* queue);

    std::string m_id;
    bool m_creating = false;
    CMsgQueue* m_queue = nullptr;
    std::unique_ptr<CMsgQueue> m_ownedQueue;
    CTimedCriticalSection m_lock;
};

} // namespace qarn
