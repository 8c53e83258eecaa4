#include "protocol/BlockSlots.h"

#include <cstdint>
#include <span>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

std::vector<uint8_t> Pattern(size_t size, uint8_t first) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

std::vector<uint8_t> Kept(const BlockSlots& slots, size_t slot) {
    const std::span<const uint8_t> kept = slots[slot];
    return std::vector<uint8_t>(kept.begin(), kept.end());
}

// Slots share one buffer: changing one, in any order and to any size, leaves the others as they
// were, and equal contents compare equal however they were reached.
TEST(BlockSlotsTest, EachSlotKeepsItsOwnBytes) {
    BlockSlots slots;
    slots.Assign(17, Pattern(26, 0x70));
    slots.Assign(0, Pattern(88, 0x10));
    slots.Assign(5, Pattern(116, 0x40));
    slots.Assign(5, Pattern(3, 0xA0));  // shrinks the middle one
    slots.Assign(0, Pattern(90, 0x11)); // grows the first one
    EXPECT_EQ(Kept(slots, 0), Pattern(90, 0x11));
    EXPECT_EQ(Kept(slots, 5), Pattern(3, 0xA0));
    EXPECT_EQ(Kept(slots, 17), Pattern(26, 0x70));
    EXPECT_TRUE(slots[16].empty());
    EXPECT_EQ(slots.TotalBytes(), 90u + 3u + 26u);

    BlockSlots other;
    other.Assign(5, Pattern(3, 0xA0));
    other.Assign(17, Pattern(26, 0x70));
    other.Assign(0, Pattern(90, 0x11));
    EXPECT_EQ(other, slots);
    other.Assign(17, {});
    EXPECT_NE(other, slots);
    EXPECT_TRUE(other[17].empty());

    slots.Assign(16, Pattern(1000, 0));
    EXPECT_EQ(slots[16].size(), BlockSlots::kMaxSlotBytes) << "no slot grows past its bound";
    slots.Assign(18, Pattern(4, 0));
    EXPECT_TRUE(slots[18].empty()) << "there is no slot 18";
    EXPECT_EQ(Kept(slots, 17), Pattern(26, 0x70));
}

} // namespace
} // namespace qarn
