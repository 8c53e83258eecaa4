#pragma once

#include "platform/Event.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// One ICMP echo request per call with its own time-out and time-to-live, and its outcome in the
// status numbers that configuration code and log lines use (0 success, 11xxx failures).
//
// The request goes out on an ICMP datagram ("ping") socket where the system allows it to this
// process (net.ipv4.ping_group_range holds one of its groups), otherwise on a raw ICMP socket
// (root or CAP_NET_RAW). Several requests may run at once on different threads and each sees only
// its own answer: a datagram socket gets its identifier from the kernel and receives only replies
// that carry it; a raw socket sees every ICMP message of the machine, so each request uses an
// identifier unique in the process and a sequence number, and everything else is ignored.

namespace qarn::platform {

// Outcome of an echo request. An echo reply is kIpSuccess; an ICMP error that quotes our request
// maps by type and code (IcmpErrorStatus).
inline constexpr uint32_t kIpSuccess = 0;
inline constexpr uint32_t kIpDestNetUnreachable = 11002;
inline constexpr uint32_t kIpDestHostUnreachable = 11003;
inline constexpr uint32_t kIpDestProtUnreachable = 11004;
inline constexpr uint32_t kIpDestPortUnreachable = 11005;
inline constexpr uint32_t kIpPacketTooBig = 11009;
inline constexpr uint32_t kIpBadRoute = 11012;
inline constexpr uint32_t kIpTtlExpiredTransit = 11013;
inline constexpr uint32_t kIpTtlExpiredReassem = 11014;
inline constexpr uint32_t kIpParamProblem = 11015;
inline constexpr uint32_t kIpSourceQuench = 11016;
inline constexpr uint32_t kIpGeneralFailure = 11050;

// Status of an ICMP error message by its type and code:
//
//   type 3 destination unreachable
//     code 0 net, 6 net unknown, 9 net prohibited, 11 net for TOS   -> kIpDestNetUnreachable
//     code 1 host, 7 host unknown, 10 host prohibited, 12 host for TOS,
//          13 communication prohibited (a filter rejected it)        -> kIpDestHostUnreachable
//     code 2 protocol                                                -> kIpDestProtUnreachable
//     code 3 port                                                    -> kIpDestPortUnreachable
//     code 4 fragmentation needed                                    -> kIpPacketTooBig
//     code 5 source route failed                                     -> kIpBadRoute
//   type 11 time exceeded: code 0 in transit -> kIpTtlExpiredTransit, code 1 ->
//   kIpTtlExpiredReassem type 12 parameter problem                                        ->
//   kIpParamProblem type 4 source quench                                             ->
//   kIpSourceQuench anything else (other codes too)                                  ->
//   kIpGeneralFailure
uint32_t IcmpErrorStatus(uint8_t type, uint8_t code);

enum class IcmpSocketKind { Datagram, Raw };

struct IcmpEchoReply {
    uint32_t address = 0;     // network order: who answered (the target, or the router that
                              // reported the error)
    uint32_t status = 0;      // kIpSuccess or one of the failure statuses above
    uint32_t roundTripMs = 0; // from sending to the answer, whole milliseconds
};

// One echo facility handle; it may serve several requests one after another, not at once. Not
// copyable.
class IcmpEcho {
  public:
    // Opens the socket: datagram where allowed, else raw. IsValid tells whether either worked.
    IcmpEcho();
    ~IcmpEcho();
    IcmpEcho(const IcmpEcho&) = delete;
    IcmpEcho& operator=(const IcmpEcho&) = delete;

    bool IsValid() const { return m_fd >= 0; }
    // The system's error number (errno) of the failed open; 0 when the handle is valid.
    int OpenError() const { return m_openError; }
    IcmpSocketKind Kind() const { return m_kind; }

    // Sends one echo request without payload to `address` (network order) with the IP
    // time-to-live `ttl`, and waits up to `timeoutMs` milliseconds for an answer to it: an echo
    // reply or an ICMP error that quotes the request. True with `reply` filled when one came;
    // false when none came in time or the request could not be sent (no route, a time-to-live
    // of 0, which the system refuses). Answers to other requests, and redirects, which only
    // name a better first hop, are skipped and the wait goes on.
    bool SendEcho(uint32_t address, uint8_t ttl, uint32_t timeoutMs, IcmpEchoReply* reply);

  private:
    struct Request;
    // What one read from the socket meant for the request waiting on it.
    enum class ReadOutcome { Skipped, Answered, Failed };

    bool Send(Request& request, uint8_t ttl);
    bool ReadDatagram(const Request& request, IcmpEchoReply* reply);
    ReadOutcome ReadDatagramError(const Request& request, IcmpEchoReply* reply);
    bool ReadRaw(const Request& request, IcmpEchoReply* reply);

    int m_fd = -1;
    int m_openError = 0;
    IcmpSocketKind m_kind = IcmpSocketKind::Datagram;
};

// What one read from a probe socket brought: an echo reply or an ICMP error quoting a probe.
struct IcmpAnswer {
    uint32_t from = 0;            // network order: who sent it (the target, or a router)
    uint32_t target = 0;          // network order: where the answered probe went
    uint16_t identifier = 0;      // of the answered probe
    uint16_t sequence = 0;        // of the answered probe
    uint32_t status = kIpSuccess; // kIpSuccess for an echo reply, else a failure status above
    bool local = false;           // refused by this host itself: nothing will answer that probe
};

enum class ProbeSend {
    Sent,
    Refused, // the system will not send it (no route, a time-to-live it refuses)
    Busy,    // the socket's buffer is full: send it again a little later
};

// One socket for any number of echo requests in flight at once, for a caller that keeps its own
// table of what it sent. Nothing here waits: Send hands one request to the system, WaitHandle is
// what to wait on (readable when answers may be there), and ReadAnswers collects what has come.
// A system whose echo service completes requests itself would signal that handle on completion
// and hand the completed ones out of ReadAnswers the same way.
//
// Same socket choice as IcmpEcho. On a datagram socket the system sets the identifier (known
// after the first Send) and delivers only replies that carry it; on a raw socket the identifier
// is chosen at open, spread by the process id, and replies for others are dropped here.
// One thread at a time.
class IcmpProbeSocket {
  public:
    explicit IcmpProbeSocket(uint8_t ttl);
    ~IcmpProbeSocket();
    IcmpProbeSocket(const IcmpProbeSocket&) = delete;
    IcmpProbeSocket& operator=(const IcmpProbeSocket&) = delete;

    bool IsValid() const { return m_fd >= 0; }
    int OpenError() const { return m_openError; }
    IcmpSocketKind Kind() const { return m_kind; }
    // The identifier the probes carry; 0 on a datagram socket before its first Send.
    uint16_t Identifier() const { return m_identifier; }

    ProbeSend Send(uint32_t address, uint16_t sequence);
    // For poll/select: readable (or in error) when ReadAnswers may find something.
    int WaitHandle() const { return m_fd; }
    // Appends up to `limit` answers that are there now; returns how many it appended.
    size_t ReadAnswers(std::vector<IcmpAnswer>& out, size_t limit);
    // Waits up to `timeoutMs` for answers (First) or for `wake` to be set (Second, consumed);
    // Timeout, or Failed when the socket is not valid.
    WaitResult WaitForAnswers(Event& wake, int32_t timeoutMs);

  private:
    bool ReadOne(IcmpAnswer* answer, bool* more);

    int m_fd = -1;
    int m_openError = 0;
    IcmpSocketKind m_kind = IcmpSocketKind::Datagram;
    uint16_t m_identifier = 0;
};

} // namespace qarn::platform
