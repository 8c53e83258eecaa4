#include "protocol/Scramble.h"

#include "protocol/LANconvConfigHdr.h"
#include "protocol/Rc4.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <ctime>
#include <numeric>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    return bytes;
}

// The key as the converters derive it, written out independently of the library: word k is
// seed - k * 0x3D2B71C5 (mod 2^32), little-endian.
std::array<uint8_t, 32> ExpectedKey(uint32_t seed) {
    std::array<uint8_t, 32> key{};
    uint32_t word = seed;
    for (size_t k = 0; k < 8; ++k) {
        for (size_t b = 0; b < 4; ++b)
            key[k * 4 + b] = static_cast<uint8_t>((word >> (8 * b)) & 0xFF);
        word -= 0x3D2B71C5u;
    }
    return key;
}

TEST(ScrambleTest, KnownAnswerForOneSeed) {
    // Reference keystream computed outside this code base for seed 0x12345678.
    const std::vector<uint8_t> expected = {0x5b, 0xcd, 0x98, 0xd2, 0x64, 0x2e, 0xc8, 0xe6,
                                           0x72, 0xbe, 0x2d, 0xb0, 0x3e, 0x69, 0xf5, 0x78};
    std::vector<uint8_t> data(16, 0);
    ScramblePayload(0x12345678, data.data(), static_cast<int32_t>(data.size()));
    EXPECT_EQ(data, expected);
}

TEST(ScrambleTest, KeyIsDerivedFromTheSeedInEightSteps) {
    const uint32_t seeds[] = {
        0, 1, 0x12345678, 0x7FFF7FFF, 0xFFFFFFFF, kScrambleStep, 7 * kScrambleStep};
    for (uint32_t seed : seeds) {
        SCOPED_TRACE(seed);
        std::vector<uint8_t> viaSeed = Pattern(300);
        std::vector<uint8_t> viaKey = viaSeed;
        ScramblePayload(seed, viaSeed.data(), static_cast<int32_t>(viaSeed.size()));
        const auto key = ExpectedKey(seed);
        Rc4Crypt(key.data(), key.size(), viaKey.data(), viaKey.size());
        EXPECT_EQ(viaSeed, viaKey);
        EXPECT_NE(viaSeed, Pattern(300));
    }
}

TEST(ScrambleTest, ScramblingTwiceWithOneSeedRestoresTheData) {
    for (uint32_t seed : {0u, 0x00010002u, 0xCAFEBABEu}) {
        SCOPED_TRACE(seed);
        std::vector<uint8_t> data = Pattern(1024);
        ScramblePayload(seed, data.data(), 1024);
        ScramblePayload(seed, data.data(), 1024);
        EXPECT_EQ(data, Pattern(1024));
    }
    // A different seed does not unscramble.
    std::vector<uint8_t> data = Pattern(64);
    ScramblePayload(1, data.data(), 64);
    ScramblePayload(2, data.data(), 64);
    EXPECT_NE(data, Pattern(64));
}

TEST(ScrambleTest, NothingToScrambleLeavesTheBufferAlone) {
    for (int32_t length : {0, -1, -72, INT32_MIN}) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> data = Pattern(8);
        ScramblePayload(0x1234, data.data(), length);
        EXPECT_EQ(data, Pattern(8));
    }
    ScramblePayload(0x1234, nullptr, 72); // must simply return
}

TEST(ScrambleTest, ShortAnswerInFullSizeBufferYieldsItsReceivedBytes) {
    // A converter sends an 80-byte answer: 64 scrambled payload bytes. The receiver copies it into
    // a zero-filled 88-byte buffer and unscrambles the full 72-byte settings block.
    const uint32_t seed = 0x2A5B1C0D;
    const std::vector<uint8_t> plain = Pattern(72);
    std::vector<uint8_t> answer(80, 0);
    LANconvConfigHdr hdr;
    hdr.byType = 1;
    hdr.byCmd = kCmdConfiguration;
    hdr.dwSeed = seed;
    hdr.EncodeTo(answer.data(), answer.size());
    std::copy(plain.begin(), plain.begin() + 64, answer.begin() + 16);
    ScramblePayload(seed, answer.data() + 16, 64);

    std::vector<uint8_t> buffer(88 + 1, 0);
    buffer[88] = 0xC3; // sentinel behind the datagram
    std::copy(answer.begin(), answer.end(), buffer.begin());
    LANconvConfigHdr received;
    ASSERT_TRUE(received.DecodeFrom(buffer.data(), 88));
    ScramblePayload(received.dwSeed, buffer.data() + 16, 72);

    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 64, buffer.begin() + 16));
    EXPECT_EQ(buffer[88], 0xC3) << "scrambled past the given length";
}

TEST(ScrambleTest, MakeSeedKeepsBits15And31ClearAndRepeatsWithinOneSecond) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const uint32_t a = MakeSeed();
        const uint32_t b = MakeSeed();
        const std::time_t after = std::time(nullptr);
        EXPECT_EQ(a & 0x80008000u, 0u);
        EXPECT_EQ(b & 0x80008000u, 0u);
        if (before == after) {
            EXPECT_EQ(a, b);
            return;
        }
        // The second changed between the calls: try again in the next one.
    }
    FAIL() << "the clock's second changed during every attempt";
}

} // namespace
} // namespace qarn
