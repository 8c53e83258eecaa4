#pragma once

#include "protocol/BlockSlots.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qarn {

// Converter generations as nKind holds them.
inline constexpr int32_t kKindNone = 0;     // the editor's blank record
inline constexpr int32_t kKindStandard = 1; // article table B, write marker 0x12131416
inline constexpr int32_t kKindExtended = 2; // article table A, answer/write marker 0x12131417
inline constexpr int32_t kKindByMac = 3;    // named only by its MAC address; written by broadcast

// Generation markers at offset 16 of the settings block.
inline constexpr uint32_t kMarkerExtended = 0x12131417;
inline constexpr uint32_t kMarkerStandard = 0x12131416;

// Block slots (kBlockSlotCount of them): 0..15 for the codes 0xD0..0xDF, 16 for the version text,
// 17 for the MAC block. A configuration answer counts as slots 0, 5, 16 and 17 together.
inline constexpr size_t kSlotSettings = 0;
inline constexpr size_t kSlotSerial = 5;
inline constexpr size_t kSlotVersionText = 16;
inline constexpr size_t kSlotMac = 17;

inline constexpr size_t kMacSize = 6;
using MacAddress = std::array<uint8_t, kMacSize>;

// System types as bySystemType holds them; anything else (0xFF: none chosen) is kept as it is.
inline constexpr uint8_t kSystemTypeRilo = 0;
inline constexpr uint8_t kSystemTypeTesk = 1;
inline constexpr uint8_t kSystemTypeVardo = 2;
inline constexpr uint8_t kSystemTypeNone = 0xFF;

// Everything the tool knows about one converter: one record per device-list row, owned by the row.
// A plain value: copying gives an independent deep copy (the editor works on such copies).
//
// Addresses are IPv4 in network order (192.168.0.1 -> 0x0100A8C0) except dwNetmask, which is in
// host order (255.255.255.0 -> 0xFFFFFF00). Text is UTF-8; strSerial and strCode come from the
// wire one byte per character (Latin-1), so each of their characters is U+0000..U+00FF.
struct LANconvDevice {
    uint32_t dwSourceIp = 0;   // where the answers come from: the key of the row
    uint32_t dwIp = 0;         // address to configure; dwSourceIp when the row is made
    uint32_t dwReportedIp = 0; // address the converter named in its last configuration answer
    uint32_t dwNetmask = 0;    // host order
    uint32_t dwGateway = 0;
    uint32_t dwPeerIp = 0;
    uint32_t dwExtraIp = 0;         // written back unchanged
    uint32_t dwFirmwareVersion = 0; // w.x.y.z as w*1000000 + x*10000 + y*100 + z
    uint16_t wPort1 = 0;
    uint16_t wPort2 = 0;
    uint8_t byOptionA = 0; // offset 30, written back unchanged
    uint8_t byOptionB = 8; // offset 43, written back unchanged
    uint8_t byOptionC = 1; // offset 42, answers only
    uint8_t byOptionD = 1; // offset 58, written back unchanged
    int32_t nKind = kKindNone;
    bool bUnreachable = false; // no echo reply when the row was made; never asked again
    // The row's echo has not been answered yet; bUnreachable keeps its default (false) until it
    // is, so such a converter counts as reachable meanwhile.
    bool bEchoPending = false;
    int64_t lastSeen =
        0; // seconds of the list's monotonic clock at the last accepted answer; 0: never
    bool bComplete = false; // bUnreachable, or slots 0, 5, 16 and 17 have all arrived
    std::string strSerial;  // 14 characters; the first six are the article number
    MacAddress abyMac{};
    std::array<bool, kBlockSlotCount> abBlockSeen{};
    // Of each slot's last data, the part that feeds a field: a configuration answer whole (slot
    // 0, as received), slot 5 up to the serial number, 16 up to the version text, 17 up to the
    // MAC address; nothing for the slots that feed none.
    BlockSlots aBlocks;
    std::string strCode;      // at most 4 characters
    uint8_t chLetter = 0;     // one Latin-1 character; 0: none
    uint8_t bySystemType = 0; // kSystemType...
    uint8_t byOptionE = 0;    // offset 86, written back unchanged

    // Slots 0, 5, 16 and 17 have all arrived.
    bool HasAllAnswerBlocks() const;
    // bComplete := bUnreachable or HasAllAnswerBlocks().
    void RecomputeComplete();

    friend bool operator==(const LANconvDevice&, const LANconvDevice&) = default;
};

// Prefix length (as the settings block carries it) -> host-order mask; 32 and more give all ones.
// 24 -> 0xFFFFFF00;  0 -> 0;  40 -> 0xFFFFFFFF
uint32_t NetmaskFromPrefixLength(uint32_t prefixLength);

// Host-order mask -> the count of one bits from bit 31 down to the first zero bit.
// 0xFFFFFF00 -> 24;  0 -> 0;  0xFF00FF00 (255.0.255.0, not contiguous) -> 8
uint8_t PrefixLengthOfNetmask(uint32_t netmask);

} // namespace qarn
