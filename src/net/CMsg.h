#pragma once

#include "platform/SystemTime.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qarn {

// One received unit (a UDP datagram, a serial frame or a mailslot message) with where and when it
// came from. It belongs to its producer until pushed onto a CMsgQueue, to the queue until popped,
// and then to the consumer. MsgToBytes / BytesToMsg give its serialised form.
class CMsg {
  public:
    CMsg() = default;
    virtual ~CMsg() = default;
    CMsg(const CMsg&) = default;
    CMsg& operator=(const CMsg&) = default;
    CMsg(CMsg&&) = default;
    CMsg& operator=(CMsg&&) = default;

    int32_t userValue = 0;     // carried unchanged; 0 unless a user sets it
    uint32_t address = 0;      // IPv4 of the peer, network order: 192.168.0.1 -> 0x0100A8C0
    int32_t port = 0;          // UDP: the local port of the receiving endpoint, host order
    platform::SystemTime time; // local time of receipt where the transport records it, else zero
    std::u16string text;       // UTF-16 code units as they travel, also unpaired surrogates
    int32_t tag = 0;           // the receiving endpoint's tag when that is not 0
    std::vector<uint8_t> data; // the payload; its size is the datagram length

    friend bool operator==(const CMsg&, const CMsg&) = default;
};

} // namespace qarn
