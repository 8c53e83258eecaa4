#include "firmware/FirmwareBlockLayout.h"

#include "protocol/LANconvConfigHdr.h"
#include "protocol/Scramble.h"

#include <algorithm>

namespace qarn {

std::vector<FirmwareBlock> Sam4BlockLayout(size_t imageSize) {
    std::vector<FirmwareBlock> blocks;
    blocks.reserve((imageSize + kSam4BlockSize - 1) / kSam4BlockSize);
    for (size_t offset = 0; offset < imageSize; offset += kSam4BlockSize) {
        FirmwareBlock block;
        block.number = static_cast<uint32_t>(offset / kSam4BlockSize);
        block.offset = offset;
        block.size = imageSize - offset < kSam4BlockSize ? imageSize - offset : kSam4BlockSize;
        block.dwBlock = block.number | (block.size < kSam4BlockSize ? kShortBlockFlag : 0);
        blocks.push_back(block);
    }
    return blocks;
}

std::vector<FirmwareBlock> LtxBlockLayout() {
    constexpr uint32_t kLongPerHalf = 62;
    constexpr uint32_t kNumberStep = 4; // a long block is 4 pages of 264 bytes
    std::vector<FirmwareBlock> blocks;
    size_t offset = 0;
    uint32_t number = 0;
    for (int half = 0; half < 2; ++half) {
        for (uint32_t n = 0; n < kLongPerHalf; ++n) {
            blocks.push_back({number, number, offset, kLtxLongBlock});
            offset += kLtxLongBlock;
            number += kNumberStep;
        }
        blocks.push_back({number, number | kShortBlockFlag, offset, kLtxShortBlock});
        offset += kLtxShortBlock;
        number += 1;
    }
    return blocks;
}

size_t EncodeFirmwareBlock(const FirmwareBlock& block, std::span<const uint8_t> image,
                           uint32_t seed, uint8_t* datagram) {
    LANconvConfigHdr header;
    header.byType = 1;
    header.byCmd = kCmdFirmwareBlock;
    header.dwBlock = block.dwBlock;
    header.dwLength = 0;
    header.dwSeed = seed;
    header.EncodeTo(datagram, LANconvConfigHdr::kSize);
    uint8_t* payload = datagram + LANconvConfigHdr::kSize;
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(block.offset), block.size, payload);
    ScramblePayload(seed, payload, static_cast<int32_t>(block.size));
    return LANconvConfigHdr::kSize + block.size;
}

} // namespace qarn
