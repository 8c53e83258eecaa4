#pragma once

#include <cstdint>
#include <span>

namespace qarn {

// The firmware side of a converter: the checksum its commit datagram carries. The class only
// groups static operations; no object of it exists.
class CConfigLANconverter {
  public:
    CConfigLANconverter() = delete;

    // Adler-32 (the zlib checksum) over every byte of `image`, in order, and an info log line
    // naming it and the byte count. "" -> 0x00000001, "abc" -> 0x024D0127.
    static uint32_t _CreateFirmwareChecksum(std::span<const uint8_t> image);
};

} // namespace qarn
