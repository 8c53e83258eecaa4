#include "protocol/Scramble.h"

#include "platform/ByteOrder.h"
#include "protocol/Rc4.h"

#include <array>
#include <cstdlib>
#include <ctime>

namespace qarn {

namespace {

// glibc's rand() yields 31 bits; the protocol's seeds are built from 15-bit draws.
constexpr int kDrawMask = 0x7FFF;

std::array<uint8_t, kScrambleKeySize> ScrambleKey(uint32_t seed) {
    std::array<uint8_t, kScrambleKeySize> key{};
    for (uint32_t word = 0; word < kScrambleKeySize / 4; ++word) {
        const uint32_t value = seed - word * kScrambleStep; // wraps modulo 2^32 by design
        platform::PutLe32(key.data() + word * 4, value);
    }
    return key;
}

} // namespace

uint32_t MakeSeed() {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    const auto high = static_cast<uint32_t>(std::rand() & kDrawMask);
    const auto low = static_cast<uint32_t>(std::rand() & kDrawMask);
    return high << 16 | low;
}

void ScramblePayload(uint32_t seed, uint8_t* buffer, int32_t length) {
    if (buffer == nullptr || length <= 0)
        return;
    const auto key = ScrambleKey(seed);
    Rc4Crypt(key.data(), key.size(), buffer, static_cast<size_t>(length));
}

} // namespace qarn
