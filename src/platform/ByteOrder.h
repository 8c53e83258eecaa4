#pragma once

#include <cstdint>
#include <vector>

// Little-endian fields of wire and file formats, read and written byte by byte so that neither
// the host's byte order nor its struct layout can leak into a format. Each byte is widened to
// uint32_t before it is shifted: a uint8_t would be promoted to int, and shifting it into the
// sign bit (0x80 << 24) is undefined.
//   PutLe32(p, 0x12345678) -> p[0..3] = 78 56 34 12;   GetLe16({0x34, 0x12}) -> 0x1234
// The readers and writers take a pointer and trust the caller for the room: check the size first.

namespace qarn::platform {

constexpr uint16_t GetLe16(const uint8_t* in) {
    return static_cast<uint16_t>(static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8);
}

constexpr uint32_t GetLe32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
           static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

constexpr void PutLe16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

constexpr void PutLe32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

inline void AppendLe16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
    AppendLe16(out, static_cast<uint16_t>(value));
    AppendLe16(out, static_cast<uint16_t>(value >> 16));
}

} // namespace qarn::platform
