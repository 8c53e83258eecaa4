#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qarn::sim {

// Generation markers at offset 16 of the settings block.
inline constexpr uint32_t kMarkerExtended = 0x12131417;
inline constexpr uint32_t kMarkerStandard = 0x12131416;

// What one simulated converter reports in its configuration answer and what a configuration write
// may change. Addresses are held in host order with the first octet in bits 31-24
// (198.18.1.1 -> 0xC6120101), so that arithmetic on them (first + i) reads naturally; the wire
// writers put the octets out one by one.
struct SimSettings {
    uint32_t marker = kMarkerExtended;
    uint32_t ip = 0;
    uint32_t gateway = 0;
    uint8_t prefix = 16; // netmask as a count of leading one bits, 0..32
    uint8_t optionA = 0;
    uint32_t extraIp = 0;
    std::array<uint8_t, 6> mac{};
    uint8_t optionC = 1;
    uint8_t optionB = 8;
    std::string serial; // at most 14 characters on the wire
    uint8_t optionD = 1;
    uint32_t peer = 0;
    uint16_t port1 = 4001;
    uint16_t port2 = 4002;
    uint32_t firmwareVersion = 0; // w.x.y.z as w*1000000 + x*10000 + y*100 + z
    std::string code;             // at most 4 characters on the wire
    uint8_t letter = 'A';
    uint8_t systemType = 1;
    uint8_t optionE = 0;

    // The directed broadcast address of the converter's network: ip | ~mask.
    uint32_t DirectedBroadcast() const;
};

} // namespace qarn::sim
