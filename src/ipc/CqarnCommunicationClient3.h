#pragma once

#include "ipc/CMailslotMMQCS.h"
#include "ipc/CMailslotMMS.h"
#include "ipc/CSerial.h"
#include "net/CMsgQueue.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace qarn {

// Why a client of this user cannot reach the communication service of queue `serviceId`, when
// something is in the way that the user should hear of: the mailslot folder or the queue's name
// taken by another user ("/tmp/qarn-1000 belongs to mallory (uid 1001), not to this user"). Empty
// when nothing but a service that is not running explains it.
std::string DescribeServiceProblem(const std::string& serviceId);

// A connection to the local communication service, so that a firmware transfer reaches its
// converter through the service instead of an endpoint of its own. The client receives through
// its own mailslot "QCS_<address>_58004" (it is that mailslot) and sends records into the
// service's shared queue "qarnCS":
//
//   "O" + slot id   data: the client's data record (CqarnCommunicationClientData)
//   "S" + slot id   address: converter, port 58004, data: one datagram for the converter
//   "C" + slot id   the client closes
//
// The service answers into the mailslot with "D" (a converter's datagram, put into the answer
// queue) and "C" (the service ended the connection). Open, Send and Close come from one thread;
// the answers arrive on the mailslot's worker.
class CqarnCommunicationClient3 : public CMailslotMMS {
  public:
    static constexpr char kServiceId[] = "qarnCS";
    static constexpr uint32_t kPeerPort = 58004;
    static constexpr int kCloseSettleMs = 20;

    CqarnCommunicationClient3();
    ~CqarnCommunicationClient3() override;

    // Connects for the converter at `address` (network order): makes the answer mailslot, opens
    // the service's queue and sends "O". Answers go to `queue`, or to the client's own queue when
    // null. Closes a connection that is open first. False when any step fails.
    bool Open(CMsgQueue* queue, uint32_t address, uint32_t limit);

    // One datagram for the converter at `address`; false when it was not handed on.
    bool Send(uint32_t address, std::span<const uint8_t> bytes);
    bool SendMsg(CMsg& msg);

    // Connected, and neither side has closed. A "C" from the service closes the client here.
    bool IsOpen();

    // Ends the connection: closes the mailslot, sends "C" unless the service ended it, closes
    // the service's queue; then waits kCloseSettleMs.
    void Close() override;

    // Puts an answer into the answer queue (tag stamped when set) while connected.
    void Forward(std::unique_ptr<CMsg> msg);
    bool OnMessage(std::unique_ptr<CMsg>& msg) override;

    void SetTag(int32_t tag) { m_tag.store(tag); }
    // The service's queue id, "qarnCS" unless set (a second service, or a test's own).
    void SetServiceId(const std::string& id) { m_serviceId = id; }
    CMsgQueue& OwnQueue() { return m_ownQueue; }
    CSerial& Serial() { return m_serial; }
    bool IsClosedByService() const { return m_closedByService.load(); }

    // "QCS_%s_%u" with the address as dotted text: QCS_192.168.1.20_58004.
    static std::string AnswerSlotId(uint32_t address);

  private:
    void CloseService(bool sendClose);

    CMailslotMMQCS m_service;
    std::atomic<CMsgQueue*> m_answers{nullptr};
    CMsgQueue m_ownQueue;
    std::atomic<bool> m_closedByService{false};
    std::atomic<bool> m_connected{false};
    std::atomic<int32_t> m_tag{0};
    CSerial m_serial;
    std::u16string m_slotId;
    std::string m_serviceId = kServiceId;
};

} // namespace qarn
