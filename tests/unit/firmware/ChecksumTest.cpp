#include "firmware/CConfigLANconverter.h"
#include "support/LogCapture.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>

#include <gtest/gtest.h>

namespace qarn {
namespace {

uint32_t ZlibAdler32(const std::vector<uint8_t>& bytes) {
    uLong sum = adler32(0L, Z_NULL, 0);
    sum = adler32(sum, bytes.data(), static_cast<uInt>(bytes.size()));
    return static_cast<uint32_t>(sum);
}

uint32_t Checksum(const std::vector<uint8_t>& bytes) {
    return CConfigLANconverter::_CreateFirmwareChecksum(bytes);
}

TEST(ChecksumTest, PublishedValues) {
    EXPECT_EQ(Checksum({}), 0x00000001u);
    EXPECT_EQ(Checksum({'a', 'b', 'c'}), 0x024D0127u);
    // "Wikipedia" is the usual worked example: a = 0x0398, b = 0x11E6.
    EXPECT_EQ(Checksum({'W', 'i', 'k', 'i', 'p', 'e', 'd', 'i', 'a'}), 0x11E60398u);
}

// All-0xFF input drives the 32-bit sums to their largest values, so a run that is one byte too
// long, or a fold that loses a carry, shows here first.
TEST(ChecksumTest, AllOnesAroundTheRunBoundaries) {
    for (const size_t size : {5549u, 5550u, 5551u, 11100u, 11101u, 100000u, 148972u}) {
        SCOPED_TRACE(size);
        const std::vector<uint8_t> bytes(size, 0xFF);
        EXPECT_EQ(Checksum(bytes), ZlibAdler32(bytes));
    }
}

// Sums that end on or just above 65521 need the last subtraction; rarely hit by random input.
TEST(ChecksumTest, SumsLandingOnTheModulus) {
    struct Row {
        const char* name;
        std::vector<uint8_t> bytes;
        uint32_t expected; // from zlib, written out so the row also stands alone
    };
    std::vector<uint8_t> aIsModulus(256, 0xFF); // a = 1 + 256 * 255 + 240 = 65521
    aIsModulus.push_back(0xF0);
    std::vector<uint8_t> bIsModulusPlusOne(362, 0); // b = 181 * 362 = 65522
    bIsModulusPlusOne[0] = 180;
    const Row rows[] = {
        {"a = 65521", aIsModulus, 0x08000000},
        {"b = 65522", bIsModulusPlusOne, 0x000100B5},
        {"a folded above 65521", std::vector<uint8_t>(514, 0xFF), 0x1E2C001D},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Checksum(row.bytes), row.expected);
        EXPECT_EQ(Checksum(row.bytes), ZlibAdler32(row.bytes));
    }
}

TEST(ChecksumTest, MatchesZlibOnRandomBuffers) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<size_t> length(0, 40000);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 300; ++round) {
        // Every fourth buffer leans to the high bytes, where overflow would show.
        const bool high = round % 4 == 0;
        std::vector<uint8_t> bytes(length(random));
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(high ? 0xF0 | byte(random) : byte(random));
        SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(bytes.size()) +
                     " bytes");
        ASSERT_EQ(Checksum(bytes), ZlibAdler32(bytes));
    }
}

TEST(ChecksumTest, LogsTheChecksumAndByteCount) {
    test::LogCapture log;
    Checksum({'a', 'b', 'c'});
    EXPECT_EQ(test::CountOf(log.Text(), "INFO    - CConfigLANconverter::_CreateFirmwareChecksum: "
                                        "CRC:0x024d0127 from 3 bytes\r\n"),
              1u)
        << log.Text();
}

} // namespace
} // namespace qarn
