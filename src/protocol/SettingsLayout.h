#pragma once

#include <cstddef>

// Where the fields of a converter's settings block sit in a configuration answer (0x1B, 80 or 88
// bytes) and in a configuration write (88 bytes). Offsets count from the start of the datagram,
// header included; multi-byte fields are little-endian, address fields hold the four octets in
// network order. The block behind the header is scrambled over kSettingsBlockSize bytes.

namespace qarn::settings {

inline constexpr size_t kShortAnswerSize = 80; // ends after offset 79: no code, letter, type
inline constexpr size_t kFullSize = 88;
inline constexpr size_t kBlockOffset = 16;
inline constexpr size_t kBlockSize = 72;

inline constexpr size_t kMarker = 16;       // 4: generation marker
inline constexpr size_t kIp = 20;           // 4
inline constexpr size_t kGateway = 24;      // 4
inline constexpr size_t kPrefixLength = 28; // 1: netmask as a count of leading one bits
inline constexpr size_t kOptionA = 30;      // 1
inline constexpr size_t kExtraIp = 32;      // 4
inline constexpr size_t kMac = 36;          // 6
inline constexpr size_t kOptionC = 42;      // 1, answers only
inline constexpr size_t kOptionB = 43;      // 1
inline constexpr size_t kSerial = 44;       // 14, one byte per character, rest 0
inline constexpr size_t kSerialSize = 14;
inline constexpr size_t kOptionD = 58;         // 1
inline constexpr size_t kPeerIp = 60;          // 4
inline constexpr size_t kPort1 = 64;           // 2
inline constexpr size_t kPort2 = 66;           // 2
inline constexpr size_t kFirmwareVersion = 68; // 4, answers only
inline constexpr size_t kCode = 80;            // 4, NUL-terminated when shorter
inline constexpr size_t kCodeSize = 4;
inline constexpr size_t kLetter = 84;     // 1
inline constexpr size_t kSystemType = 85; // 1
inline constexpr size_t kOptionE = 86;    // 1

} // namespace qarn::settings
