#include "platform/ByteOrder.h"

#include <array>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace qarn::platform {
namespace {

using Bytes = std::vector<uint8_t>;

// The readers are usable where a format's constants are built at compile time.
static_assert(GetLe32(std::array<uint8_t, 4>{0x78, 0x56, 0x34, 0x12}.data()) == 0x12345678);

TEST(ByteOrderTest, FieldsAreLeastSignificantByteFirst) {
    struct Row {
        const char* label;
        uint32_t value;
        Bytes bytes; // the 32-bit form; the 16-bit form is its first two bytes
    };
    const Row rows[] = {
        {"zero", 0, {0, 0, 0, 0}},
        {"mixed", 0x12345678, {0x78, 0x56, 0x34, 0x12}},
        {"top bit of each half", 0x80008000, {0x00, 0x80, 0x00, 0x80}},
        {"all ones", 0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const auto value16 = static_cast<uint16_t>(row.value);
        const Bytes bytes16(row.bytes.begin(), row.bytes.begin() + 2);

        EXPECT_EQ(GetLe32(row.bytes.data()), row.value);
        EXPECT_EQ(GetLe16(row.bytes.data()), value16);

        Bytes put(4, 0xAA);
        PutLe32(put.data(), row.value);
        EXPECT_EQ(put, row.bytes);
        Bytes put16(3, 0xAA);
        PutLe16(put16.data(), value16);
        EXPECT_EQ(put16, (Bytes{bytes16[0], bytes16[1], 0xAA})) << "only two bytes written";

        // Appending keeps what was there.
        Bytes appended = {0x01};
        AppendLe32(appended, row.value);
        AppendLe16(appended, value16);
        Bytes expected = {0x01};
        expected.insert(expected.end(), row.bytes.begin(), row.bytes.end());
        expected.insert(expected.end(), bytes16.begin(), bytes16.end());
        EXPECT_EQ(appended, expected);
    }
}

} // namespace
} // namespace qarn::platform
