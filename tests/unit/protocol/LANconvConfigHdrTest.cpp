#include "protocol/LANconvConfigHdr.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

// A commit header: every multi-byte field distinct, so a swapped field or byte order shows.
const std::array<uint8_t, 16> kCommitBytes = {0x01, 0x26, 0x00, 0x00, 0x44, 0x33, 0x22, 0x11,
                                              0x00, 0x00, 0x01, 0x00, 0x78, 0x56, 0x34, 0x12};

LANconvConfigHdr CommitHeader() {
    LANconvConfigHdr hdr;
    hdr.byType = 1;
    hdr.byCmd = kCmdFirmwareCommit;
    hdr.dwBlock = 0x11223344;
    hdr.dwLength = 0x10000;
    hdr.dwSeed = 0x12345678;
    return hdr;
}

TEST(LANconvConfigHdrTest, EncodesFieldsInOrderLittleEndian) {
    EXPECT_EQ(CommitHeader().Encode(), kCommitBytes);
    std::array<uint8_t, 20> longer{};
    longer.fill(0xEE);
    ASSERT_TRUE(CommitHeader().EncodeTo(longer.data(), longer.size()));
    EXPECT_TRUE(std::equal(kCommitBytes.begin(), kCommitBytes.end(), longer.begin()));
    EXPECT_EQ(longer[16], 0xEE) << "wrote past the header";
}

TEST(LANconvConfigHdrTest, DecodesTheHeaderInFrontOfAPayload) {
    const LANconvConfigHdr expected{0xAB, 0xCD, 0xEF, 0x7F, 0x80000001, 0xFFFFFFFE, 0xDEADBEEF};
    std::vector<uint8_t> datagram(88, 0x5A);
    ASSERT_TRUE(expected.EncodeTo(datagram.data(), datagram.size()));
    LANconvConfigHdr decoded;
    ASSERT_TRUE(decoded.DecodeFrom(datagram.data(), datagram.size()));
    EXPECT_EQ(decoded, expected);
}

TEST(LANconvConfigHdrTest, ShortInputFailsAndLeavesTheHeaderAlone) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{15}}) {
        SCOPED_TRACE(size);
        LANconvConfigHdr hdr = CommitHeader();
        const std::vector<uint8_t> bytes(size, 0xFF);
        EXPECT_FALSE(hdr.DecodeFrom(bytes.data(), bytes.size()));
        EXPECT_EQ(hdr, CommitHeader());
    }
    LANconvConfigHdr hdr;
    EXPECT_FALSE(hdr.DecodeFrom(nullptr, 16));
    std::array<uint8_t, 15> small{};
    EXPECT_FALSE(hdr.EncodeTo(small.data(), small.size()));
}

} // namespace
} // namespace qarn
