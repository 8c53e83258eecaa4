#pragma once

#include "net/CMsg.h"
#include "net/CMsgQueue.h"
#include "net/CThreadClass.h"
#include "net/CTimedCriticalSection.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

namespace qarn {

// The receiving end of a mailslot: a Unix-domain datagram socket named after the mailslot id in
// this user's mailslot folder (MailslotFolder.h), so each message keeps its boundaries. A worker
// takes what arrives, reads each message as a serialised CMsg and offers it to OnMessage; what
// that does not take goes into the queue (the caller's, or one the mailslot makes and owns).
//
// The worker waits on the socket itself, up to kPollMs at a time, and reads up to
// kMessagesPerStep messages per step: an answer is passed on as it arrives, and a stop takes
// effect within kPollMs. The system keeps only a few messages waiting in one socket
// (net.unix.max_dgram_qlen); writers wait for room (CMailslotWriter), which the worker makes as
// fast as messages come. Open and Close come from the owner's thread; OnMessage runs on the
// worker.
class CMailslot : public CThreadClass {
  public:
    static constexpr int kPollMs = 10;
    static constexpr int kMessagesPerStep = 64;
    static constexpr int32_t kCloseLockMs = 1000;

    CMailslot();
    ~CMailslot() override;

    // Makes the mailslot `id` and starts the worker. The flag and the read time-out are kept for
    // callers of the other system; here reads never wait beyond kPollMs. False (logged, with the
    // code in GetLastError) when the id is held by a live mailslot of another process (EEXIST),
    // or the socket cannot be made; also false, with the mailslot open, when a worker already
    // runs. A socket file left behind by a process that died is replaced.
    bool Open(bool flag, const std::string& id, CMsgQueue* queue, uint32_t readTimeoutMs);

    // Stops the worker, closes and removes the socket, deletes an owned queue.
    virtual void Close();

    // Offered every message the worker reads; true when the override took it (then `msg` may be
    // left empty). The default takes nothing.
    virtual bool OnMessage(std::unique_ptr<CMsg>& msg);

    bool TimeoutThread() override;
    bool EventThread(int32_t index) override;

    bool IsHandleValid() const { return m_handle >= 0; }
    int GetLastError() const { return m_lastError; }
    const std::string& GetId() const { return m_id; }
    const std::string& GetSlotPath() const { return m_slotPath; }
    CMsgQueue* GetQueue() const { return m_queue; }

  private:
    bool BindSocket(int fd);
    void DrainStep();

    std::string m_slotPath;
    std::string m_id;
    CMsgQueue* m_queue = nullptr;
    bool m_receiving = false;
    int m_handle = -1;
    int m_lastError = 0;
    std::unique_ptr<CMsgQueue> m_ownedQueue;
    CTimedCriticalSection m_lock;
    dev_t m_slotDevice = 0; // the socket file we made, so that Close removes only that one
    ino_t m_slotInode = 0;
};

} // namespace qarn
