#include "cli/Target.h"

#include <gtest/gtest.h>

namespace qarn::cli {
namespace {

struct TargetCase {
    const char* name;
    const char* text;
    bool valid;
    Target::Kind kind;
    uint32_t ip;
    MacAddress mac;
};

constexpr MacAddress kMac{0x00, 0x20, 0x4A, 0x90, 0xAB, 0xCD};

TEST(TargetTest, ParsesAddressesInEveryNotation) {
    const TargetCase cases[] = {
        {"dotted", "198.18.1.7", true, Target::Kind::Ip, 0x070112C6, {}},
        {"zero octets", "0.0.0.0", true, Target::Kind::Ip, 0, {}},
        {"blanks around", "  10.0.0.255 ", true, Target::Kind::Ip, 0xFF00000A, {}},
        {"colons", "00:20:4a:90:ab:cd", true, Target::Kind::Mac, 0, kMac},
        {"upper case hyphens", "00-20-4A-90-AB-CD", true, Target::Kind::Mac, 0, kMac},
        {"as the list shows it", "00 20 4a 90 ab cd", true, Target::Kind::Mac, 0, kMac},
        {"dotted quads of hex", "0020.4a90.abcd", true, Target::Kind::Mac, 0, kMac},
        {"bare hex", "00204A90abcd", true, Target::Kind::Mac, 0, kMac},
        {"decimal-looking bare hex is a MAC", "002049000012", true, Target::Kind::Mac, 0,
         MacAddress{0x00, 0x20, 0x49, 0x00, 0x00, 0x12}},
        {"three octets", "198.18.1", false, {}, 0, {}},
        {"octet above 255", "198.18.1.256", false, {}, 0, {}},
        {"hex octet", "0x7f.0.0.1", false, {}, 0, {}},
        {"trailing dot", "198.18.1.7.", false, {}, 0, {}},
        {"sign", "+1.2.3.4", false, {}, 0, {}},
        {"mixed separators", "00:20-4a:90:ab:cd", false, {}, 0, {}},
        {"short group", "0:20:4a:90:ab:cd", false, {}, 0, {}},
        {"five groups", "00:20:4a:90:ab", false, {}, 0, {}},
        {"seven groups", "00:20:4a:90:ab:cd:ef", false, {}, 0, {}},
        {"not hex", "00:20:4a:90:ab:cg", false, {}, 0, {}},
        {"eleven digits", "00204a90abc", false, {}, 0, {}},
        {"host name", "converter-7", false, {}, 0, {}},
        {"empty", "", false, {}, 0, {}},
    };
    for (const TargetCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<Target> target = ParseTarget(c.text);
        ASSERT_EQ(target.has_value(), c.valid) << c.text;
        if (!c.valid)
            continue;
        EXPECT_EQ(target->kind, c.kind);
        if (c.kind == Target::Kind::Ip)
            EXPECT_EQ(target->ip, c.ip);
        else
            EXPECT_EQ(target->mac, c.mac);
    }
}

TEST(TargetTest, TextsRoundTrip) {
    const Target ip = *ParseTarget("198.18.1.7");
    EXPECT_EQ(TargetText(ip), "198.18.1.7");
    const Target mac = *ParseTarget("00-20-4A-90-AB-CD");
    EXPECT_EQ(TargetText(mac), "00:20:4a:90:ab:cd");
    EXPECT_EQ(ParseTarget(TargetText(mac))->mac, mac.mac);
}

} // namespace
} // namespace qarn::cli
