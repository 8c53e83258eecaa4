#include "protocol/ConverterText.h"

#include "ConverterDatagrams.h"
#include "protocol/Articles.h"
#include "protocol/LANconvDevice.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::Ip;

TEST(ConverterTextTest, AddressesBothWays) {
    EXPECT_EQ(IpToText(Ip(192, 168, 0, 1)), "192.168.0.1");
    EXPECT_EQ(IpToText(0xFFFFFFFF), "255.255.255.255");
    EXPECT_EQ(IpToText(0), "0.0.0.0");
    EXPECT_EQ(HostOrderIpToText(0xFFFFFF00), "255.255.255.0");

    const struct {
        const char* text;
        std::optional<uint32_t> address;
    } rows[] = {
        {"192.168.0.1", Ip(192, 168, 0, 1)},
        {"0.0.0.0", 0},
        {"255.255.255.255", 0xFFFFFFFF},
        {"010.001.000.009", Ip(10, 1, 0, 9)},
        {"1.2.3", std::nullopt},
        {"1.2.3.4.", std::nullopt},
        {"1.2.3.4 ", std::nullopt},
        {" 1.2.3.4", std::nullopt},
        {"1.2.3.256", std::nullopt},
        {"1.2.3.0004", std::nullopt},
        {"1..3.4", std::nullopt},
        {"a.b.c.d", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(ParseIpText(row.text), row.address);
    }
}

TEST(ConverterTextTest, VersionNumbersAndTheirText) {
    EXPECT_EQ(VersionText(3026211), "3.2.62.11");
    EXPECT_EQ(VersionText(0), "0.0.0.0");
    EXPECT_EQ(VersionText(2029999), "2.2.99.99");
    EXPECT_EQ(VersionText(0xFFFFFFFF), "4294.96.72.95");

    const struct {
        const char* text;
        uint32_t version;
    } rows[] = {
        {"3, 2 ,62,11", 3026211},
        {"3.2.62.11", 3026211},
        {"1.2.3", 0},
        {"1.2.3.4.5", 0},
        {"300.1.1.1", 44010101},
        {"1..2.3.4", 1020304}, // empty fields do not count
        {".1.2.3.4.", 1020304},
        {"1x.2.3.4", 1020304},                     // leading digits
        {"x.2.3.4", 20304},                        // none: 0
        {"-1.2.3.4", 20304},                       // a sign is no digit
        {"99999999999999999999.0.0.0", 255000000}, // taken mod 256 however long
        {"", 0},
        {"255.255.255.255", 257575755u},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(ParseVersion(row.text), row.version);
    }
    for (uint32_t version : {0u, 2030000u, 3026211u, 5999999u, 99999999u})
        EXPECT_EQ(ParseVersion(VersionText(version)), version);
}

TEST(ConverterTextTest, SerialColumnCutsSixFourAndTheLastFour) {
    const struct {
        const char* serial;
        const char* column;
    } rows[] = {
        {"73145800012345", "731458-0001-2345"},
        {"ABC", "ABC--ABC"},
        {"", "--"},
        {"1234567", "123456-7-4567"},
        {"12345678901234567", "123456-7890-4567"},
        {"\u00C4BCDEFGHIJ\u00D6LMN", "\u00C4BCDEF-GHIJ-\u00D6LMN"}, // characters, not bytes
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.serial);
        EXPECT_EQ(SerialColumnText(row.serial), row.column);
    }
}

TEST(ConverterTextTest, MacLetterAndLatin1Text) {
    EXPECT_EQ(MacText({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}), "00 1a 2b 3c 4d 5e");
    EXPECT_EQ(MacText({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "ff ff ff ff ff ff");
    EXPECT_EQ(LetterText(0), "");
    EXPECT_EQ(LetterText('Q'), "Q");
    EXPECT_EQ(LetterText(0xE9), "\u00E9");

    const uint8_t field[] = {'A', 0xE9, 0, 'B'};
    EXPECT_EQ(Latin1FieldToText(field, 4), "A\u00E9");
    EXPECT_EQ(Latin1FieldToText(field, 1), "A");
    EXPECT_EQ(TextToLowBytes("A\u00E9\u20AC", 8), (std::vector<uint8_t>{0x41, 0xE9, 0xAC}));
    EXPECT_EQ(TextToLowBytes("ABCDEF", 4), (std::vector<uint8_t>{'A', 'B', 'C', 'D'}));

    EXPECT_EQ(SystemTypeName(1), "tesk");
    EXPECT_EQ(SystemTypeName(0xFF), std::nullopt);
    EXPECT_EQ(SystemTypeFromName("vardo"), 2);
    EXPECT_EQ(SystemTypeFromName("Vardo"), std::nullopt);
}

TEST(ConverterTextTest, ArticleTablesLookAtTheFirstSixCharacters) {
    const struct {
        const char* serial;
        bool extended;
        bool standard;
    } rows[] = {
        {"73145800000001", true, false}, {"762904", true, false},
        {"738812XXXX", false, true},     {"469517", false, true},
        {"762358abc", false, true},      {"46982300000000", false, true},
        {"73145", false, false},         {"", false, false},
        {"731459", false, false},        {" 731458", false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.serial);
        EXPECT_EQ(IsExtendedArticle(row.serial), row.extended);
        EXPECT_EQ(IsStandardArticle(row.serial), row.standard);
    }
}

TEST(ConverterTextTest, NetmaskAndPrefixLength) {
    const struct {
        uint32_t prefix;
        uint32_t mask;
    } toMask[] = {{0, 0},           {1, 0x80000000},  {24, 0xFFFFFF00}, {31, 0xFFFFFFFE},
                  {32, 0xFFFFFFFF}, {40, 0xFFFFFFFF}, {255, 0xFFFFFFFF}};
    for (const auto& row : toMask)
        EXPECT_EQ(NetmaskFromPrefixLength(row.prefix), row.mask) << row.prefix;

    const struct {
        uint32_t mask;
        uint8_t prefix;
    } toPrefix[] = {{0, 0},           {0xFFFFFF00, 24}, {0xFF00FF00, 8},
                    {0xFFFFFFFF, 32}, {0x7FFFFFFF, 0},  {0xFFFFFFFE, 31}};
    for (const auto& row : toPrefix)
        EXPECT_EQ(PrefixLengthOfNetmask(row.mask), row.prefix) << std::hex << row.mask;
}

} // namespace
} // namespace qarn
