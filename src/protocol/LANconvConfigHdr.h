#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qarn {

// UDP port of the converters; the tool binds its own endpoint to the same port.
inline constexpr uint16_t kConverterPort = 58009;

// Command codes (byCmd) of converter datagrams.
inline constexpr uint8_t kCmdDiscoveryRequest = 0x1A; // tool -> broadcast, header only
inline constexpr uint8_t kCmdConfiguration = 0x1B;    // converter's answer, and the tool's write
inline constexpr uint8_t kCmdWriteByMac = 0x1C;       // write to a converter known by MAC only
inline constexpr uint8_t kCmdFirmwareBlock = 0x1E;    // one block of image data
inline constexpr uint8_t kCmdFirmwareCommit = 0x26;   // checksum and total length, header only

// The 16-byte header in front of every converter datagram. On the wire the fields follow each
// other without gaps, the 32-bit ones little-endian:
//   byType byCmd byAnswerCmd bySubCmd | dwBlock | dwLength | dwSeed
//   01     1A    00          00       | 00000000| 00000000 | 34 12 00 00   (seed 0x1234)
struct LANconvConfigHdr {
    static constexpr size_t kSize = 16;

    uint8_t byType = 0;
    uint8_t byCmd = 0;
    uint8_t byAnswerCmd = 0;
    uint8_t bySubCmd = 0;
    uint32_t dwBlock = 0;
    uint32_t dwLength = 0;
    uint32_t dwSeed = 0; // sent in the clear: the key of the payload's scrambling

    // The wire form.
    std::array<uint8_t, kSize> Encode() const;

    // Writes the wire form to out[0..15]; false (nothing written) when `size` is below kSize.
    bool EncodeTo(uint8_t* out, size_t size) const;

    // Reads the header from the first kSize bytes of `data`; bytes behind them are the payload.
    // False, leaving *this unchanged, when fewer than kSize bytes are given.
    bool DecodeFrom(const uint8_t* data, size_t size);

    friend bool operator==(const LANconvConfigHdr&, const LANconvConfigHdr&) = default;
};

} // namespace qarn
