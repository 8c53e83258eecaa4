#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qarn {

// Block slots: 0..15 for the codes 0xD0..0xDF, 16 for the version text, 17 for the MAC block.
inline constexpr size_t kBlockSlotCount = 18;

// The bytes a converter record keeps of each block slot, all in one buffer: a list of tens of
// thousands of rows (a flood of spoofed sources) must not pay for 18 empty arrays per row. A plain
// value: copies are independent, and two stores compare equal when every slot holds the same
// bytes.
//
//     BlockSlots blocks;
//     blocks.Assign(5, serialBlock);      // blocks[5] now holds those bytes
//     blocks[16].empty()                  // true: nothing kept for slot 16
class BlockSlots {
  public:
    // A slot keeps at most this many bytes; Assign keeps the first ones of a longer block.
    static constexpr size_t kMaxSlotBytes = 255;

    // The bytes slot `slot` keeps; empty for a slot that keeps none or does not exist. Valid
    // until the next Assign.
    std::span<const uint8_t> operator[](size_t slot) const;

    // Slot `slot` keeps `bytes` (their first kMaxSlotBytes) instead of what it kept; a slot that
    // does not exist keeps nothing.
    void Assign(size_t slot, std::span<const uint8_t> bytes);

    // Bytes kept in all slots together.
    size_t TotalBytes() const { return m_bytes.size(); }

    friend bool operator==(const BlockSlots&, const BlockSlots&) = default;

  private:
    // The slots one after another, in slot order, so that equal contents are equal buffers.
    std::vector<uint8_t> m_bytes;
    std::array<uint8_t, kBlockSlotCount> m_sizes{};
};

} // namespace qarn
