#pragma once

#include "SimSettings.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The converter's side of the datagram formats: the answers it builds and the configuration write
// it reads. Everything is put together byte by byte, multi-byte numbers little-endian, addresses as
// four octets with the first octet at the lowest offset.
namespace qarn::sim {

inline constexpr size_t kHeaderSize = 16;
inline constexpr size_t kConfigAnswerShort = 80; // settings block without code/letter/system type
inline constexpr size_t kConfigAnswerLong = 88;
inline constexpr size_t kConfigWriteSize = 88;
inline constexpr size_t kSettingsBlockSize = 72; // scrambled part of the 88-byte form

// byType of a block answer: anything but 1 (configuration) and 2 (ignored by the tool).
inline constexpr uint8_t kBlockAnswerType = 3;
// A block answer is 4 header bytes and this much block data; slot 5 needs 116 bytes for its serial.
inline constexpr size_t kBlockDataSize = 128;

// bySubCmd of the block answers the tool reads something from.
inline constexpr uint8_t kBlockGeneral = 0xD0; // slot 0
inline constexpr uint8_t kBlockSerial = 0xD5;  // slot 5: serial at block bytes 102..115
inline constexpr uint8_t kBlockVersion = 0xF5; // slot 16: version text at block bytes 12..27
inline constexpr uint8_t kBlockMac = 0xF7;     // slot 17: MAC at block bytes 20..25

// The block code asked for by byte 3 of a 4-byte block request (0xE0 -> 0xD0, 0xE5 -> 0xD5,
// 0xF4 -> 0xF5, 0xF6 -> 0xF7); 0 for any other byte.
uint8_t BlockForRequest(uint8_t requestCode);

// Configuration answer of `length` bytes (80 or 88): header byType 1, byCmd 0x1B, dwSeed = seed,
// then the settings block scrambled with that seed over length - 16 bytes.
std::vector<uint8_t> BuildConfigurationAnswer(const SimSettings& settings, uint32_t seed,
                                              size_t length);

// Block answer `subCmd`: byType 3, byCmd 0x1A, 128 bytes of block data in the clear.
std::vector<uint8_t> BuildBlockAnswer(uint8_t subCmd, const SimSettings& settings);

// Bare 16-byte header answering a firmware datagram.
std::vector<uint8_t> BuildFirmwareAnswer(uint8_t cmd, uint8_t answerCmd, uint32_t block,
                                         uint32_t seed);

// A configuration write as the converter reads it after unscrambling.
struct SimConfigurationWrite {
    uint8_t cmd = 0;
    SimSettings fields; // firmwareVersion and optionC are not carried by a write and stay 0
};

// Reads an 88-byte configuration write (byType 1, byCmd 0x1B or 0x1C). The payload is unscrambled
// in a copy; false for any other length, type or command.
bool ParseConfigurationWrite(const uint8_t* data, size_t size, SimConfigurationWrite* write);

} // namespace qarn::sim
