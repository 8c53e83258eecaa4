#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// How the two transfer engines cut an image into data datagrams.

namespace qarn {

// Set in dwBlock on a block shorter than the layout's full block.
inline constexpr uint32_t kShortBlockFlag = 0x10000;

struct FirmwareBlock {
    uint32_t number = 0;  // what the converter echoes back (16 bits on the wire)
    uint32_t dwBlock = 0; // number, with kShortBlockFlag on a short block
    size_t offset = 0;    // into the image, bytes
    size_t size = 0;      // payload bytes
};

// The 1024-byte layout: block k holds bytes k*1024 .. k*1024+1023; a last block shorter than 1024
// bytes carries the flag. 148972 bytes -> 146 blocks, the last one 492 bytes with dwBlock 0x10091;
// 2048 bytes -> 2 blocks of 1024, neither flagged.
inline constexpr size_t kSam4BlockSize = 1024;
// Block numbers must stay below the flag bit, so images are at most 65536 blocks (64 MiB).
inline constexpr size_t kSam4MaxImageSize = size_t{0x10000} * kSam4BlockSize;
std::vector<FirmwareBlock> Sam4BlockLayout(size_t imageSize);

// The fixed layout of a 131072-byte image: two halves of 65536 bytes, each 62 blocks of 1056
// bytes numbered 4 apart and a 64-byte flagged block, the second half numbered from 249:
// 0, 4, ... 244, 248|flag, 249, 253, ... 493, 497|flag (126 blocks).
inline constexpr size_t kLtxImageBytes = 131072;
inline constexpr size_t kLtxLongBlock = 1056;
inline constexpr size_t kLtxShortBlock = 64;
inline constexpr uint32_t kLtxLastBlock = 497;
std::vector<FirmwareBlock> LtxBlockLayout();

// Writes the data datagram of `block` to `datagram`: the header (type 1, the block command,
// dwBlock, length 0, `seed`) and the block's bytes of `image`, scrambled with `seed`. `datagram`
// holds at least LANconvConfigHdr::kSize + block.size bytes. Returns the datagram's length.
size_t EncodeFirmwareBlock(const FirmwareBlock& block, std::span<const uint8_t> image,
                           uint32_t seed, uint8_t* datagram);

} // namespace qarn
