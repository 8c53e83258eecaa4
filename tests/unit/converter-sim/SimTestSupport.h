#pragma once

// Test side of the converter protocol, written out from the byte tables and kept apart from the
// tool's and the simulator's code, so that a fault shared by both cannot hide: the scrambling key
// and RC4, the datagrams a tool sends, and a fleet driven without sockets.

#include "CSimEventLog.h"
#include "CSimFleet.h"

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace qarn::sim::test {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kToolIp = 0xC6120001; // 198.18.0.1, the tool's side
constexpr uint16_t kToolPort = 58009;

inline uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
// Address octets as they stand in a datagram: 198.18.1.1 -> C6 12 01 01.
inline uint32_t Octets(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
inline void PutOctets(uint8_t* p, uint32_t ip) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(ip >> (24 - 8 * i));
}

// The scrambling as the converters do it: key words seed - k * 0x3D2B71C5 (k = 0..7, mod 2^32),
// little-endian, then plain RC4 from the first keystream byte.
inline void TestScramble(uint32_t seed, uint8_t* data, size_t size) {
    uint8_t key[32];
    for (uint32_t k = 0; k < 8; ++k)
        PutLe32(key + 4 * k, seed - k * 0x3D2B71C5u);
    uint8_t s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<uint8_t>(i);
    uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<uint8_t>(j + s[i] + key[i % 32]);
        std::swap(s[i], s[j]);
    }
    uint8_t a = 0;
    uint8_t b = 0;
    for (size_t n = 0; n < size; ++n) {
        a = static_cast<uint8_t>(a + 1);
        b = static_cast<uint8_t>(b + s[a]);
        std::swap(s[a], s[b]);
        data[n] ^= s[static_cast<uint8_t>(s[a] + s[b])];
    }
}

// A 16-byte header: type, command, answer command, sub-command, block, length, seed.
inline Bytes Header(uint8_t type, uint8_t cmd, uint32_t block = 0, uint32_t length = 0,
                    uint32_t seed = 0x00120034) {
    Bytes d(16, 0);
    d[0] = type;
    d[1] = cmd;
    PutLe32(d.data() + 4, block);
    PutLe32(d.data() + 8, length);
    PutLe32(d.data() + 12, seed);
    return d;
}

inline Bytes Discovery() {
    return Header(1, 0x1A);
}

// The settings of a configuration write as a tool would fill them.
struct WriteFields {
    uint32_t marker = 0x12131417;
    uint32_t ip = 0;
    uint32_t gateway = 0xC6120001;
    uint8_t prefix = 24;
    uint8_t optionA = 3;
    uint32_t extraIp = 0x0A000001;
    std::array<uint8_t, 6> mac{};
    uint8_t optionB = 9;
    std::string serial;
    uint8_t optionD = 4;
    uint32_t peer = 0xC6120063;
    uint16_t port1 = 5001;
    uint16_t port2 = 5002;
    std::string code = "AB";
    uint8_t letter = 'K';
    uint8_t systemType = 2;
    uint8_t optionE = 7;
};

// An 88-byte configuration write, laid out and scrambled here.
inline Bytes ConfigurationWrite(uint8_t cmd, const WriteFields& f, uint32_t seed = 0x2A2A0101) {
    Bytes d = Header(1, cmd, 0, 0, seed);
    d.resize(88, 0);
    PutLe32(&d[16], f.marker);
    PutOctets(&d[20], f.ip);
    PutOctets(&d[24], f.gateway);
    d[28] = f.prefix;
    d[30] = f.optionA;
    PutOctets(&d[32], f.extraIp);
    std::copy(f.mac.begin(), f.mac.end(), d.begin() + 36);
    d[43] = f.optionB;
    for (size_t i = 0; i < f.serial.size() && i < 14; ++i)
        d[44 + i] = static_cast<uint8_t>(f.serial[i]);
    d[58] = f.optionD;
    PutOctets(&d[60], f.peer);
    d[64] = static_cast<uint8_t>(f.port1);
    d[65] = static_cast<uint8_t>(f.port1 >> 8);
    d[66] = static_cast<uint8_t>(f.port2);
    d[67] = static_cast<uint8_t>(f.port2 >> 8);
    for (size_t i = 0; i < f.code.size() && i < 4; ++i)
        d[80 + i] = static_cast<uint8_t>(f.code[i]);
    d[84] = f.letter;
    d[85] = f.systemType;
    d[86] = f.optionE;
    TestScramble(seed, d.data() + 16, 72);
    return d;
}

// A firmware data block carrying `plain`, scrambled with `seed`.
inline Bytes FirmwareBlock(uint32_t dwBlock, const Bytes& plain, uint32_t seed) {
    Bytes d = Header(1, 0x1E, dwBlock, 0, seed);
    d.insert(d.end(), plain.begin(), plain.end());
    TestScramble(seed, d.data() + 16, plain.size());
    return d;
}

inline Bytes Commit(uint32_t checksum, uint32_t length) {
    return Header(1, 0x26, checksum, length, 0x3333);
}

// Adler-32 written out from its definition (sums modulo 65521), for the test's own images.
inline uint32_t TestAdler32(const Bytes& data) {
    uint32_t a = 1;
    uint32_t b = 0;
    for (const uint8_t x : data) {
        a = (a + x) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

inline Bytes Image(size_t size, uint32_t salt) {
    Bytes image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>((i * 131 + salt) ^ (i >> 8));
    return image;
}

// Records what the fleet asks of the LAN.
class FakeAddressControl : public ISimAddressControl {
  public:
    bool Move(uint32_t from, uint32_t to, std::string*) override {
        calls.push_back("move " + std::to_string(from) + " " + std::to_string(to));
        return true;
    }
    bool Remove(uint32_t ip, std::string*) override {
        calls.push_back("remove " + std::to_string(ip));
        return true;
    }
    bool Add(uint32_t ip, std::string*) override {
        calls.push_back("add " + std::to_string(ip));
        return true;
    }
    std::vector<std::string> calls;
};

// A fleet with its log in memory and a recording address control.
class FleetHarness {
  public:
    FleetHarness() { log.KeepInMemory(true); }

    void Add(const SimConverterConfig& config) {
        std::string why;
        ASSERT_TRUE(fleet.Add(config, &why)) << why;
    }

    // Delivers one datagram at `now` and returns every answer it caused, in sending order.
    std::vector<SimOutgoing> Exchange(uint64_t now, uint32_t dst, const Bytes& datagram,
                                      uint32_t src = kToolIp) {
        fleet.OnDatagram(now, src, kToolPort, dst, datagram.data(), datagram.size());
        return fleet.TakeDue(UINT64_MAX);
    }

    std::vector<nlohmann::json> Events(const std::string& name) const {
        std::vector<nlohmann::json> found;
        for (const auto& event : log.Events())
            if (event.value("event", "") == name)
                found.push_back(event);
        return found;
    }

    CSimEventLog log;
    FakeAddressControl control;
    CSimFleet fleet{log, &control};
};

// A converter at `ip` with settings that are easy to recognise in the bytes.
inline SimConverterConfig Converter(uint32_t ip) {
    SimConverterConfig c;
    SimSettings& s = c.settings;
    s.ip = ip;
    s.marker = 0x12131417;
    s.gateway = 0xC6120001;
    s.prefix = 16;
    s.optionA = 0x11;
    s.extraIp = 0x0A0B0C0D;
    s.mac = {0x02, 0x51, 0x00, 0x00, 0x00, static_cast<uint8_t>(ip)};
    s.optionC = 0x22;
    s.optionB = 0x33;
    s.serial = "73145812345678";
    s.optionD = 0x44;
    s.peer = 0xC6120063;
    s.port1 = 4001;
    s.port2 = 0xBEEF;
    s.firmwareVersion = 3012004;
    s.code = "QX7";
    s.letter = 'M';
    s.systemType = 2;
    s.optionE = 0x55;
    c.seed = 99;
    return c;
}

} // namespace qarn::sim::test
