#pragma once

#include "ipc/CMailslotS.h"
#include "ipc/CMailslotWriter.h"
#include "ipc/ClientRecord.h"
#include "net/CMsgQueue.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace qarn {

class CUDPSocket;

struct CommServiceOptions {
    std::string queueId = "qarnCS";
    uint32_t blockSize = 0;     // of the shared queue; 0: 65536 bytes
    std::optional<gid_t> group; // may use the queue besides the service's user
    int32_t converterPort = 58009;
    // The port the converters' answers come to. Converters answer on 58009; 0 lets the system
    // pick one (enough for converters that answer to the sender's port).
    int32_t localPort = 58009;
};

// The local communication service: creates the shared queue that communication clients write
// their records into, forwards each client's "S" datagrams to its converter over UDP, returns the
// converter's datagrams to the client's mailslot as "D" records, and ends connections with "C".
//
// Per connection the service knows the client's mailslot id and converter. A converter's
// datagram goes to the clients connected to that converter, so one client never sees another
// converter's answers. The UDP endpoint is open only while some client is connected: the tool's
// own discovery needs the port between transfers. A client whose mailslot has gone (it ended
// without "C") is dropped within kProbeIntervalMs. A "S" from a client that is not connected
// (the service was restarted meanwhile) is answered with "C", so that the client stops at once.
//
// Start, Run and Stop come from one thread.
class CCommService {
  public:
    static constexpr int kProbeIntervalMs = 1000;
    static constexpr uint32_t kQueuePollMs = 2;
    static constexpr uint32_t kUdpReadTimeoutMs = 100;

    struct Counters {
        uint64_t opened = 0;
        uint64_t closed = 0;
        uint64_t sent = 0;     // datagrams to converters
        uint64_t answered = 0; // "D" records to clients
        uint64_t unrouted = 0; // converter datagrams that no client waited for
        uint64_t refused = 0;  // records that were not valid or not allowed
    };

    explicit CCommService(CommServiceOptions options);
    ~CCommService();

    CCommService(const CCommService&) = delete;
    CCommService& operator=(const CCommService&) = delete;

    // Creates the queue; false with the reason.
    bool Start(std::string* why);
    // Serves until `stop` is set (checked at least every 100 ms).
    void Run(const std::atomic<bool>& stop);
    // One pass: waits up to `waitMs` for work and does it.
    void RunOnce(int32_t waitMs);
    // Sends "C" to every connected client and closes everything.
    void Stop();

    // Told about every connection opened or closed ("open QCS_... 198.18.1.1", "close ...").
    void SetEventHook(std::function<void(const std::string&)> hook) { m_hook = std::move(hook); }

    size_t ConnectionCount() const { return m_connections.size(); }
    bool EndpointOpen() const { return m_endpoint != nullptr; }
    const Counters& GetCounters() const { return m_counters; }

    // The service's handling of one record as it came out of the queue; public for the tests.
    void HandleRequest(const CMsg& msg);

  private:
    struct Connection {
        CqarnCommunicationClientData data;
    };

    void Open(const ClientRecord& record);
    void Forward(const ClientRecord& record);
    void Disconnect(const std::string& slotId, bool tellClient, const char* why);
    void HandleAnswer(const CMsg& answer);
    void ProbeClients();
    bool EnsureEndpoint();
    void ReleaseEndpointIfIdle();
    void Tell(const std::string& slotId, const std::u16string& command, const CMsg* from);
    void Event(const std::string& text);

    CommServiceOptions m_options;
    CMsgQueue m_requests;
    CMsgQueue m_answers;
    CMailslotS m_queue;
    std::unique_ptr<CUDPSocket> m_endpoint;
    CMailslotWriter m_writer;
    std::map<std::string, Connection> m_connections;
    Counters m_counters;
    int64_t m_nextProbeMs = 0;
    std::function<void(const std::string&)> m_hook;
};

} // namespace qarn
