#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qarn {

// What a communication client tells the service when it connects: the converter it talks to and
// how. Travels as the data of the client's "O" record, 25 bytes, little-endian:
//   schema 10 (4) | peerAddress (4) | peerPort (4) | useSerial (4) | limitValue (4)
//   | reservedValue (4) | reservedFlag (1)
class CqarnCommunicationClientData {
  public:
    static constexpr uint32_t kSchema = 10;
    static constexpr size_t kSerializedSize = 25;

    CqarnCommunicationClientData() = default;
    virtual ~CqarnCommunicationClientData() = default;
    CqarnCommunicationClientData(const CqarnCommunicationClientData&) = default;
    // The record's assignment: every field is taken over.
    virtual CqarnCommunicationClientData& operator=(const CqarnCommunicationClientData&) = default;

    // Replaces `out` with the 25-byte form.
    void Serialize(std::vector<uint8_t>& out) const;
    // Reads the record from the front of `in` (bytes behind it are ignored). False, with nothing
    // changed, for fewer than 25 bytes or another schema number.
    bool Deserialize(std::span<const uint8_t> in);

    uint32_t peerAddress = 0; // IPv4 of the converter, network order
    uint32_t peerPort = 0;    // 58004
    uint32_t useSerial = 0;   // non-zero: through the serial port instead of the service
    uint32_t limitValue = 0;  // the number the client was opened with (50 or 100 from the engines)
    uint32_t reservedValue = 0;
    uint8_t reservedFlag = 0;

    friend bool operator==(const CqarnCommunicationClientData& a,
                           const CqarnCommunicationClientData& b) {
        return a.peerAddress == b.peerAddress && a.peerPort == b.peerPort &&
               a.useSerial == b.useSerial && a.limitValue == b.limitValue &&
               a.reservedValue == b.reservedValue && a.reservedFlag == b.reservedFlag;
    }
};

} // namespace qarn
