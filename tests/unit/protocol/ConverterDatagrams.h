#pragma once

// Converter datagrams built by hand from the byte tables of the protocol, for the tests of the
// device list and the configuration write. The scrambling is written out here again (RC4 keyed by
// eight words seed - k * 0x3D2B71C5, little-endian), so that a fault in the library's own
// scrambler cannot hide in a test that both builds and reads with it.

#include "protocol/IReachability.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace qarn::test {

// "a.b.c.d" in network order: the first octet in the lowest byte.
constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a | b << 8 | c << 16 | d << 24;
}

// RC4 with the converters' key derivation, in place.
inline void TestScramble(uint32_t seed, uint8_t* data, size_t size) {
    std::array<uint8_t, 32> key{};
    uint32_t word = seed;
    for (size_t k = 0; k < 8; ++k, word -= 0x3D2B71C5u) {
        for (size_t b = 0; b < 4; ++b)
            key[4 * k + b] = static_cast<uint8_t>(word >> (8 * b));
    }
    std::array<uint8_t, 256> s{};
    for (size_t i = 0; i < 256; ++i)
        s[i] = static_cast<uint8_t>(i);
    uint8_t j = 0;
    for (size_t i = 0; i < 256; ++i) {
        j = static_cast<uint8_t>(j + s[i] + key[i % 32]);
        std::swap(s[i], s[j]);
    }
    uint8_t x = 0;
    j = 0;
    for (size_t n = 0; n < size; ++n) {
        x = static_cast<uint8_t>(x + 1);
        j = static_cast<uint8_t>(j + s[x]);
        std::swap(s[x], s[j]);
        data[n] ^= s[static_cast<uint8_t>(s[x] + s[j])];
    }
}

inline void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
    for (size_t b = 0; b < 4; ++b)
        d[at + b] = static_cast<uint8_t>(v >> (8 * b));
}

inline uint32_t Get32(const std::vector<uint8_t>& d, size_t at) {
    return static_cast<uint32_t>(d[at]) | static_cast<uint32_t>(d[at + 1]) << 8 |
           static_cast<uint32_t>(d[at + 2]) << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

inline void PutText(std::vector<uint8_t>& d, size_t at, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i)
        d[at + i] = static_cast<uint8_t>(text[i]);
}

// The settings of a configuration answer, plain. Defaults make an extended converter.
struct AnswerSettings {
    uint32_t marker = 0x12131417;
    uint32_t ip = Ip(192, 168, 1, 20);
    uint32_t gateway = Ip(192, 168, 1, 1);
    uint8_t prefixLength = 24;
    uint8_t optionA = 0xA1;
    uint32_t extraIp = Ip(10, 1, 2, 3);
    std::array<uint8_t, 6> mac = {0x00, 0x20, 0x4A, 0x11, 0x22, 0x33};
    uint8_t optionC = 0xC3;
    uint8_t optionB = 0xB2;
    std::string serial = "73145800012345"; // bytes; at most 14
    uint8_t optionD = 0xD4;
    uint32_t peer = Ip(192, 168, 1, 99);
    uint16_t port1 = 4001;
    uint16_t port2 = 4002;
    uint32_t firmware = 3026211; // 3.2.62.11
    std::string code = "QX7";    // at most 4 bytes
    uint8_t letter = 'K';
    uint8_t systemType = 2;
    uint8_t optionE = 0xE5;
};

// A configuration answer of `size` bytes (80 or 88; others for negative tests) with byCmd `cmd`,
// its payload scrambled as a converter does it: over the bytes it has behind the header.
inline std::vector<uint8_t> ConfigurationAnswer(const AnswerSettings& s, size_t size = 88,
                                                uint32_t seed = 0x2A5B1C3D, uint8_t cmd = 0x1B) {
    std::vector<uint8_t> d(std::max<size_t>(size, 88), 0);
    d[0] = 1;
    d[1] = cmd;
    Put32(d, 12, seed);
    Put32(d, 16, s.marker);
    Put32(d, 20, s.ip);
    Put32(d, 24, s.gateway);
    d[28] = s.prefixLength;
    d[30] = s.optionA;
    Put32(d, 32, s.extraIp);
    std::copy(s.mac.begin(), s.mac.end(), d.begin() + 36);
    d[42] = s.optionC;
    d[43] = s.optionB;
    PutText(d, 44, s.serial);
    d[58] = s.optionD;
    Put32(d, 60, s.peer);
    d[64] = static_cast<uint8_t>(s.port1);
    d[65] = static_cast<uint8_t>(s.port1 >> 8);
    d[66] = static_cast<uint8_t>(s.port2);
    d[67] = static_cast<uint8_t>(s.port2 >> 8);
    Put32(d, 68, s.firmware);
    PutText(d, 80, s.code);
    d[84] = s.letter;
    d[85] = s.systemType;
    d[86] = s.optionE;
    d.resize(size);
    if (size > 16)
        TestScramble(seed, d.data() + 16, size - 16);
    return d;
}

// A block answer: byType `type`, bySubCmd `subCmd`, `size` bytes in all, the block data
// (datagram offset 4 on) filled with a pattern unless a field is put in.
inline std::vector<uint8_t> BlockAnswer(uint8_t subCmd, size_t size, uint8_t type = 3) {
    std::vector<uint8_t> d(size, 0);
    for (size_t i = 4; i < size; ++i)
        d[i] = static_cast<uint8_t>(0x40 + i % 31);
    if (size > 0)
        d[0] = type;
    if (size > 3)
        d[3] = subCmd;
    return d;
}

// Slot 5 with `serial` at block bytes 102..115 (datagram 106..119), 0-padded.
inline std::vector<uint8_t> SerialBlock(const std::string& serial, size_t size = 120) {
    std::vector<uint8_t> d = BlockAnswer(0xD5, size);
    for (size_t i = 0; i < 14 && 106 + i < size; ++i)
        d[106 + i] = i < serial.size() ? static_cast<uint8_t>(serial[i]) : 0;
    return d;
}

// Slot 16 with `text` at block bytes 12..27 (datagram 16..31); a 0 follows when it fits in 16.
inline std::vector<uint8_t> VersionBlock(const std::string& text, size_t size = 40) {
    std::vector<uint8_t> d = BlockAnswer(0xF5, size);
    for (size_t i = 0; i <= text.size() && i < 16 && 16 + i < size; ++i)
        d[16 + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
    return d;
}

// Slot 17 with `mac` at block bytes 20..25 (datagram 24..29).
inline std::vector<uint8_t> MacBlock(const std::array<uint8_t, 6>& mac, size_t size = 30) {
    std::vector<uint8_t> d = BlockAnswer(0xF7, size);
    for (size_t i = 0; i < 6 && 24 + i < size; ++i)
        d[24 + i] = mac[i];
    return d;
}

// Echo answers by table: every address answers except those listed; counts the requests.
class EchoTable : public IReachability {
  public:
    bool Echo(uint32_t address) override {
        asked.push_back(address);
        return silent.count(address) == 0;
    }
    std::set<uint32_t> silent;
    std::vector<uint32_t> asked;
};

} // namespace qarn::test
