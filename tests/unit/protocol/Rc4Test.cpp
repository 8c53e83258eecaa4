#include "protocol/Rc4.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

struct KeystreamRow {
    size_t offset;
    const char* hex; // 16 keystream bytes at `offset`
};

// Published RC4 test vectors for 256-bit keys.
const KeystreamRow kCountingKey[] = {
    {0, "eaa6bd25880bf93d3f5d1e4ca2611d91"},    {16, "cfa45c9f7e714b54bdfa80027cb14380"},
    {240, "114ae344ded71b35f2e60febad727fd8"},  {256, "02e1e7056b0f623900496422943e97b6"},
    {496, "91cb93c787964e10d9527d999c6f936b"},  {512, "49b18b42f8e8367cbeb5ef104ba1c7cd"},
    {752, "87084b3ba700bade955610672745b374"},  {768, "e7a7b9e9ec540d5ff43bdb12792d1b35"},
    {1008, "c799b596738f6b018c76c74b1759bd90"}, {1024, "7fec5bfd9f9b89ce6548309092d7e958"},
    {1520, "40f250b26d1f096a4afd4c340a588815"}, {1536, "3e34135c79db010200767651cf263073"},
    {2032, "f656abccf88dd827027b2ce917d464ec"}, {2048, "18b62503bfbc077fbabb98f20d98ab34"},
    {3056, "8aed95ee5b0dcbfbef4eb21d3a3f52f9"}, {3072, "625a1ab00ee39a5327346bddb01a9c18"},
    {4080, "a13a7c79c7e119b5ab0296ab28c300b9"}, {4096, "f3e4c0a2e02d1d01f7f0a74618af2b48"},
};

const KeystreamRow kRandomKey[] = {
    {0, "dd5bcb0018e922d494759d7c395d02d3"},    {16, "c8446f8f77abf737685353eb89a1c9eb"},
    {240, "af3e30f9c095045938151575c3fb9098"},  {256, "f8cb6274db99b80b1d2012a98ed48f0e"},
    {496, "25c3005a1cb85de076259839ab7198ab"},  {512, "9dcbc183e8cb994b727b75be3180769c"},
    {752, "a1d3078dfa9169503ed9d4491dee4eb2"},  {768, "8514a5495858096f596e4bcd66b10665"},
    {1008, "5f40d59ec1b03b33738efa60b2255d31"}, {1024, "3477c7f764a41baceff90bf14f92b7cc"},
    {1520, "ac4e95368d99b9eb78b8da8f81ffa795"}, {1536, "8c3c13f8c2388bb73f38576e65b7c446"},
    {2032, "13c4b9c1dfb66579eddd8a280b9f7316"}, {2048, "ddd27820550126698efaadc64b64f66e"},
    {3056, "f08f2e66d28ed143f3a237cf9de73559"}, {3072, "9ea36c525531b880ba124334f57b0b70"},
    {4080, "d5a39e3dfcc50280bac4a6b5aa0dca7d"}, {4096, "370b1c1fe655916d97fd0d47ca1d72b8"},
};

void CheckVectors(const std::vector<uint8_t>& key, const KeystreamRow (&rows)[18]) {
    // One cipher walks the whole keystream (Discard between rows) ...
    Rc4 running(key.data(), key.size());
    size_t position = 0;
    for (const KeystreamRow& row : rows) {
        SCOPED_TRACE(row.offset);
        const std::vector<uint8_t> expected = FromHex(row.hex);
        running.Discard(row.offset - position);
        std::vector<uint8_t> stream(16, 0);
        running.Apply(stream.data(), stream.size());
        position = row.offset + 16;
        EXPECT_EQ(stream, expected);
        // ... and the one-shot call over a zero buffer gives the same bytes at the same place.
        std::vector<uint8_t> zeros(row.offset + 16, 0);
        Rc4Crypt(key.data(), key.size(), zeros.data(), zeros.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), zeros.begin() + row.offset));
    }
}

TEST(Rc4Test, MatchesPublishedKeystreamForCountingKey) {
    std::vector<uint8_t> key;
    for (uint8_t b = 1; b <= 32; ++b)
        key.push_back(b);
    CheckVectors(key, kCountingKey);
}

TEST(Rc4Test, MatchesPublishedKeystreamForRandomKey) {
    CheckVectors(FromHex("1ada31d5cf688221c109163908ebe51debb46227c6cc8b37641910833222772a"),
                 kRandomKey);
}

TEST(Rc4Test, EmptyKeyLeavesDataUnchanged) {
    std::array<uint8_t, 4> data = {1, 2, 3, 4};
    const auto before = data;
    const uint8_t key = 7;
    Rc4Crypt(&key, 0, data.data(), data.size());
    Rc4Crypt(nullptr, 8, data.data(), data.size());
    EXPECT_EQ(data, before);
}

} // namespace
} // namespace qarn
