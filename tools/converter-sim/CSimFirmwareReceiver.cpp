#include "CSimFirmwareReceiver.h"

#include <algorithm>
#include <zlib.h>

namespace qarn::sim {

namespace {

constexpr size_t kFixedLongBlock = 1056; // 4 * 264
constexpr size_t kFixedShortBlock = 64;
constexpr int kFixedPerHalf = 63;     // 62 long blocks and one short one
constexpr uint16_t kSecondHalf = 249; // number of the first block of the second half
constexpr size_t kHalfSize = 65536;
constexpr size_t kVersionOffset = 16;
constexpr size_t kVersionSize = 16;

} // namespace

CSimFirmwareReceiver::BlockResult CSimFirmwareReceiver::OnBlock(uint32_t dwBlock,
                                                                const uint8_t* data, size_t size) {
    if (data == nullptr && size > 0)
        return {false, "no data", 0, 0, false, false};
    return m_layout == SimFirmwareLayout::Blocks1024 ? OnBlock1024(dwBlock, data, size)
                                                     : OnBlockFixed(dwBlock, data, size);
}

// A block 0 that arrives after other blocks starts a new transfer; a repeated block 0 alone is a
// retry of the same one.
bool CSimFirmwareReceiver::BeginsAnew(size_t index) {
    if (index != 0 || m_received == 0 || (m_received == 1 && !m_have.empty() && m_have[0]))
        return false;
    Reset();
    return true;
}

CSimFirmwareReceiver::BlockResult
CSimFirmwareReceiver::OnBlock1024(uint32_t dwBlock, const uint8_t* data, size_t size) {
    BlockResult result;
    const uint32_t number = dwBlock & 0xFFFF;
    const bool flagged = (dwBlock & kShortBlockFlag) != 0;
    if ((dwBlock & ~(kShortBlockFlag | 0xFFFFu)) != 0) {
        result.reason = "unknown bits in the block number";
        return result;
    }
    if (flagged ? (size == 0 || size >= kBlockSize) : size != kBlockSize) {
        result.reason = flagged
                            ? "short block flag on a block of " + std::to_string(size) + " bytes"
                            : "block of " + std::to_string(size) + " bytes without the flag";
        return result;
    }
    const size_t offset = static_cast<size_t>(number) * kBlockSize;
    if (offset + size > kMaxImageSize) {
        result.reason = "block beyond the largest image";
        return result;
    }
    result.restarted = BeginsAnew(number);
    if (m_have.size() <= number) {
        m_have.resize(number + 1u, false);
        m_sizes.resize(number + 1u, 0);
    }
    if (m_image.size() < offset + size)
        m_image.resize(offset + size, 0);
    std::copy(data, data + size, m_image.begin() + static_cast<std::ptrdiff_t>(offset));
    if (!m_have[number])
        ++m_received;
    m_have[number] = true;
    m_sizes[number] = static_cast<uint32_t>(size);
    result.accepted = true;
    result.offset = static_cast<uint32_t>(offset);
    result.size = static_cast<uint32_t>(size);
    return result;
}

int CSimFirmwareReceiver::FixedIndex(uint16_t number) {
    const int half = number >= kSecondHalf ? 1 : 0;
    const int within = number - half * kSecondHalf;
    if (within == 4 * (kFixedPerHalf - 1))
        return half * kFixedPerHalf + kFixedPerHalf - 1;
    if (within % 4 != 0 || within / 4 >= kFixedPerHalf - 1)
        return -1;
    return half * kFixedPerHalf + within / 4;
}

CSimFirmwareReceiver::BlockResult
CSimFirmwareReceiver::OnBlockFixed(uint32_t dwBlock, const uint8_t* data, size_t size) {
    BlockResult result;
    const int index = (dwBlock & ~(kShortBlockFlag | 0xFFFFu)) != 0
                          ? -1
                          : FixedIndex(static_cast<uint16_t>(dwBlock & 0xFFFF));
    if (index < 0) {
        result.reason = "block number not in the fixed layout";
        return result;
    }
    const int within = index % kFixedPerHalf;
    const bool shortBlock = within == kFixedPerHalf - 1;
    const bool flagged = (dwBlock & kShortBlockFlag) != 0;
    const size_t expected = shortBlock ? kFixedShortBlock : kFixedLongBlock;
    if (flagged != shortBlock || size != expected) {
        result.reason = "block of " + std::to_string(size) + " bytes" +
                        (flagged ? " with" : " without") + " the flag, expected " +
                        std::to_string(expected);
        return result;
    }
    if (m_image.size() != kFixedImageSize) {
        m_image.assign(kFixedImageSize, 0);
        m_have.assign(kFixedBlockCount, false);
    }
    result.restarted = BeginsAnew(static_cast<size_t>(index));
    if (result.restarted) {
        m_image.assign(kFixedImageSize, 0);
        m_have.assign(kFixedBlockCount, false);
    }
    const size_t offset = static_cast<size_t>(index / kFixedPerHalf) * kHalfSize +
                          static_cast<size_t>(within) * kFixedLongBlock;
    std::copy(data, data + size, m_image.begin() + static_cast<std::ptrdiff_t>(offset));
    const auto slot = static_cast<size_t>(index);
    if (!m_have[slot])
        ++m_received;
    m_have[slot] = true;
    result.accepted = true;
    result.offset = static_cast<uint32_t>(offset);
    result.size = static_cast<uint32_t>(size);
    result.complete = (dwBlock & 0xFFFF) == kFixedLastBlock && m_received == kFixedBlockCount;
    return result;
}

CSimFirmwareReceiver::CommitResult CSimFirmwareReceiver::OnCommit(uint32_t checksum,
                                                                  uint32_t length) const {
    CommitResult result;
    if (m_layout != SimFirmwareLayout::Blocks1024) {
        result.reason = "no commit in the fixed layout";
        return result;
    }
    if (length == 0 || length > kMaxImageSize) {
        result.reason = "length " + std::to_string(length) + " out of range";
        return result;
    }
    const size_t count = (length + kBlockSize - 1) / kBlockSize;
    const size_t lastSize = length - (count - 1) * kBlockSize;
    for (size_t k = 0; k < count; ++k) {
        const size_t want = k + 1 == count ? lastSize : kBlockSize;
        if (k >= m_have.size() || !m_have[k] || m_sizes[k] != want) {
            result.reason = "length " + std::to_string(length) +
                            " does not match the blocks (block " + std::to_string(k) + ")";
            return result;
        }
    }
    if (std::find(m_have.begin() + static_cast<std::ptrdiff_t>(count), m_have.end(), true) !=
        m_have.end()) {
        result.reason = "blocks beyond length " + std::to_string(length);
        return result;
    }
    result.checksum = Checksum(length);
    if (result.checksum != checksum) {
        result.reason = "checksum mismatch";
        return result;
    }
    result.ok = true;
    return result;
}

uint32_t CSimFirmwareReceiver::Checksum(size_t length) const {
    const size_t size = std::min(length, m_image.size());
    const uLong sum = adler32(adler32(0L, Z_NULL, 0), m_image.data(), static_cast<uInt>(size));
    return static_cast<uint32_t>(sum);
}

void CSimFirmwareReceiver::Reset() {
    m_image.clear();
    m_have.clear();
    m_sizes.clear();
    m_received = 0;
}

std::string CSimFirmwareReceiver::FixedImageVersionText(const std::vector<uint8_t>& image) {
    std::string text;
    for (size_t i = kVersionOffset; i < kVersionOffset + kVersionSize && i < image.size(); ++i) {
        if (image[i] == 0)
            break;
        text.push_back(static_cast<char>(image[i]));
    }
    return text;
}

} // namespace qarn::sim
