#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qarn::sim {

// The two ways a converter takes a firmware image.
enum class SimFirmwareLayout {
    // Numbered 1024-byte blocks, a shorter last one flagged with 0x10000, then a commit datagram
    // with the image length and its Adler-32.
    Blocks1024,
    // A fixed 131072-byte image in 126 blocks numbered 0,4,...,244 (1056 bytes), 248|0x10000 (64),
    // 249,253,...,493 (1056), 497|0x10000 (64); the transfer ends with block 497, no commit.
    Fixed126,
};

// Collects the (already unscrambled) blocks of one firmware transfer and decides whether the image
// is complete and sound. Pure bookkeeping: no I/O, no clock.
class CSimFirmwareReceiver {
  public:
    static constexpr uint32_t kShortBlockFlag = 0x10000;
    static constexpr size_t kBlockSize = 1024;
    // The 1024-byte layout refuses block numbers that would grow an image past this (bytes).
    static constexpr size_t kMaxImageSize = 1024 * 1024;
    static constexpr size_t kFixedImageSize = 131072;
    static constexpr size_t kFixedBlockCount = 126;
    static constexpr uint16_t kFixedLastBlock = 497;

    struct BlockResult {
        bool accepted = false;
        std::string reason; // why a block was refused
        uint32_t offset = 0;
        uint32_t size = 0;
        bool restarted = false; // block 0 after later blocks: a new transfer began
        bool complete = false;  // fixed layout: the last block arrived and every block is there
    };
    struct CommitResult {
        bool ok = false;
        std::string reason;
        uint32_t checksum = 0; // Adler-32 of what was received, over the committed length
    };

    explicit CSimFirmwareReceiver(SimFirmwareLayout layout) : m_layout(layout) {}

    SimFirmwareLayout Layout() const { return m_layout; }

    // One data block: dwBlock as received, the plain payload.
    BlockResult OnBlock(uint32_t dwBlock, const uint8_t* data, size_t size);

    // The commit of the 1024-byte layout: accepted only when the received blocks cover exactly
    // `length` bytes without a gap and their Adler-32 equals `checksum`.
    CommitResult OnCommit(uint32_t checksum, uint32_t length) const;

    // The image as received so far (the fixed layout always holds 131072 bytes).
    const std::vector<uint8_t>& Image() const { return m_image; }
    size_t BlocksReceived() const { return m_received; }

    // Adler-32 of the first `length` bytes received (all of them when longer than the image).
    uint32_t Checksum(size_t length) const;

    // Forgets everything (after a restart).
    void Reset();

    // The version text of a fixed-layout image: bytes 16..31 up to the first 0.
    static std::string FixedImageVersionText(const std::vector<uint8_t>& image);

  private:
    BlockResult OnBlock1024(uint32_t dwBlock, const uint8_t* data, size_t size);
    BlockResult OnBlockFixed(uint32_t dwBlock, const uint8_t* data, size_t size);
    // Index 0..125 in the fixed layout for a block number, or -1 when the number is not in it.
    static int FixedIndex(uint16_t number);
    bool BeginsAnew(size_t index);

    SimFirmwareLayout m_layout;
    std::vector<uint8_t> m_image;
    std::vector<bool> m_have;      // per block index
    std::vector<uint32_t> m_sizes; // 1024-byte layout: payload size per block index
    size_t m_received = 0;         // distinct blocks
};

} // namespace qarn::sim
