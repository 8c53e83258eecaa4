#pragma once

#include "protocol/LANconvDevice.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How converter values read as text, and text back to values. All text is UTF-8. Character counts
// ("the first six characters") count UTF-16 code units, the way the tool has always cut serial
// numbers; for the Latin-1 text that comes from converters that is one per character.

namespace qarn {

// Network-order IPv4 -> dotted text of the four octets in memory order.
// 0x0100A8C0 -> "192.168.0.1"
std::string IpToText(uint32_t address);

// Host-order IPv4 (first octet in bits 31..24, as dwNetmask) -> dotted text.
// 0xFFFFFF00 -> "255.255.255.0"
std::string HostOrderIpToText(uint32_t address);

// Dotted text of four decimal octets 0..255 (1 to 3 digits each, nothing around them) -> network
// order; nullopt for anything else. "192.168.0.1" -> 0x0100A8C0;  "1.2.3" -> nullopt
std::optional<uint32_t> ParseIpText(std::string_view text);

// Version number -> "w.x.y.z" of v / 1000000, v / 10000 mod 100, v / 100 mod 100, v mod 100.
// 3026211 -> "3.2.62.11"
std::string VersionText(uint32_t version);

// Dotted (or comma-separated) version text -> version number; 0 unless exactly four numbers.
// Spaces are dropped, empty fields do not count, each field is its leading digits (0 without
// any) taken mod 256: "3, 2 ,62,11" -> 3026211;  "1.2.3" -> 0;  "300.1.1.1" -> 44010101
uint32_t ParseVersion(std::string_view text);

// "%02x %02x %02x %02x %02x %02x": {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E} -> "00 1a 2b 3c 4d 5e"
std::string MacText(const MacAddress& mac);

// The device list's serial column: the first six characters, a hyphen, the four from position 6,
// a hyphen, the last four. "73145800012345" -> "731458-0001-2345";  "ABC" -> "ABC--ABC";
// "" -> "--"
std::string SerialColumnText(std::string_view serial);

// Bytes as Latin-1 characters, up to the first 0 byte or `size` bytes: {'A', 0xE9, 0, 'B'} ->
// "A\u00E9"
std::string Latin1FieldToText(const uint8_t* bytes, size_t size);

// The low 8 bits of each of the first `maxCharacters` characters of `text`.
// ("A\u00E9\u20AC", 8) -> {0x41, 0xE9, 0xAC}
std::vector<uint8_t> TextToLowBytes(std::string_view text, size_t maxCharacters);

// One Latin-1 character as text; 0 gives "". 'Q' -> "Q"
std::string LetterText(uint8_t letter);

// The names of the system types 0, 1 and 2 ("rilo", "tesk", "vardo"); nullopt for other values.
std::optional<std::string_view> SystemTypeName(uint8_t systemType);
// "tesk" -> 1; nullopt for anything but the three names.
std::optional<uint8_t> SystemTypeFromName(std::string_view name);

} // namespace qarn
