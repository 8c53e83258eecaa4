#pragma once

#include "net/CMsg.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qarn {

// Schema number at the start of every serialised CMsg.
inline constexpr uint32_t kMsgSchema = 10;

// The serialised form of a CMsg, all integers little-endian:
//   schema (4) = 10 | address (4) | port (4) | userValue (4) | time: eight 16-bit fields (16)
//   | text marker FF FE FF | text length L in UTF-16 units: L < 255 -> 1 byte; L < 0xFFFE -> FF
//   + 16-bit; else FF FF FF + 32-bit | 2L bytes UTF-16LE | tag (4)
//   | data count N: N < 0xFFFF -> 16-bit; else FF FF + 32-bit | N bytes.
// An empty record is 42 bytes: 0A 00 00 00, 28 zero bytes, FF FE FF 00, 4 zero bytes, 00 00.

// Replaces `out` with the serialised form of `msg`. False (with `out` empty) only when memory
// runs out or a length does not fit its 32-bit field. Never throws.
bool MsgToBytes(const CMsg& msg, std::vector<uint8_t>& out) noexcept;

// Reads one record from the front of `data`; bytes behind the record are ignored. False for empty
// or truncated input, a schema other than 10, a missing text marker or a length that the input
// cannot hold; `out` is changed only on success. Allocates no more than the input can back.
// Never throws.
bool BytesToMsg(const uint8_t* data, size_t size, CMsg& out) noexcept;
bool BytesToMsg(const std::vector<uint8_t>& in, CMsg& out) noexcept;

} // namespace qarn
