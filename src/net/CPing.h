#pragma once

#include <cstdint>
#include <string>

namespace qarn {

// One ICMP echo request per call, answered by a result code:
//    0  an echo reply arrived
//   -1  the socket library is not usable (it did not start with version 2.2)
//   -2  no address: 0, or a text that does not resolve
//   -3  no usable reply: the echo facility could not be opened, nothing came back within the
//       time-out, or the answer was an ICMP error (logged at info level with its status, e.g.
//       "CPing: IcmpSendEcho returns 11003" for a router reporting the host unreachable)
//
// Each object holds one start-up of the socket library for its lifetime. Objects share nothing,
// so each thread may use its own; one object serves one request at a time.
class CPing {
  public:
    static constexpr int32_t kReply = 0;
    static constexpr int32_t kLibraryNotUsable = -1;
    static constexpr int32_t kNoAddress = -2;
    static constexpr int32_t kNoUsableReply = -3;
    static constexpr uint16_t kRequestedVersion = 0x0202; // socket library 2.2

    CPing();
    ~CPing();
    CPing(const CPing&) = delete;
    CPing& operator=(const CPing&) = delete;

    // `address` in network order; `timeoutMs` in milliseconds; of `ttl` the low 8 bits are the IP
    // time-to-live (0 lets nothing leave the host: no reply, -3).
    int32_t Ping(uint32_t address, uint32_t timeoutMs, uint32_t ttl);

    // Resolves `text` (host name or dotted address) with CSupport::GetIP, then Ping. A null or
    // empty text, or one that does not resolve: -2.
    int32_t PingHost(const char* text, uint32_t timeoutMs, uint32_t ttl);
    int32_t PingHost(const std::string& text, uint32_t timeoutMs, uint32_t ttl) {
        return PingHost(text.c_str(), timeoutMs, ttl);
    }

    bool IsInitialized() const { return initialized; }
    // Who sent the last answer (the target, or a router reporting an error); 0 before an answer
    // and from the start of every request.
    uint32_t GetReplyAddress() const { return replyAddress; }
    // The address of the last request that got an answer; 0 otherwise.
    uint32_t GetTargetAddress() const { return targetAddress; }

  private:
    bool initialized = false;   // the library started with exactly version 2.2
    uint32_t replyAddress = 0;  // network order
    uint32_t targetAddress = 0; // network order
    bool m_started = false;     // one start-up to balance in the destructor
};

} // namespace qarn
