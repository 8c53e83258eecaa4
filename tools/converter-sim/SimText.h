#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// Text forms the simulator reads from its fleet files and writes to its event log.
namespace qarn::sim {

// 0xC6120101 -> "198.18.1.1" (host order, first octet in bits 31-24).
std::string IpText(uint32_t ip);
// "198.18.1.1" -> 0xC6120101; false for anything but four decimal octets 0..255.
bool ParseIp(const std::string& text, uint32_t* ip);

// {0x02,0x51,0,0,0,1} -> "02:51:00:00:00:01".
std::string MacText(const std::array<uint8_t, 6>& mac);
// "02:51:00:00:00:01" or "02-51-00-00-00-01" -> bytes; false otherwise.
bool ParseMac(const std::string& text, std::array<uint8_t, 6>* mac);

// 3026211 -> "3.2.62.11".
std::string VersionText(uint32_t version);
// "3.2.62.11" -> 3026211. The last three parts must be 0..99 and the result must fit 32 bits.
bool ParseVersion(const std::string& text, uint32_t* version);

// Lower-case hex digits, two per byte, no separators: {0x01, 0x1A} -> "011a".
std::string HexText(const uint8_t* data, size_t size);

} // namespace qarn::sim
