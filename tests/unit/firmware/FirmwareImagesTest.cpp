#include "firmware/FirmwareImages.h"

#include "firmware/EmbeddedImages.h"
#include "firmware/FirmwareModule.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

// --- image choice -----------------------------------------------------------------------------

struct ChoiceRow {
    const char* name;
    uint32_t version;
    std::optional<FirmwareChoice> expected;
};

TEST(ChooseFirmwareImageTest, VersionRangesAtTheirBoundaries) {
    const FirmwareChoice ltx149{149, FirmwareEngine::Ltx};
    const FirmwareChoice ltx150{150, FirmwareEngine::Ltx};
    const FirmwareChoice sam4{151, FirmwareEngine::Sam4};
    const ChoiceRow rows[] = {
        {"zero", 0, std::nullopt},
        {"1.99.99.99", 1999999, std::nullopt},
        {"2.0.0.0", 2000000, ltx149},
        {"2.2.99.99", 2029999, ltx149},
        {"2.3.0.0", 2030000, ltx150},
        {"2.99.99.99", 2999999, ltx150},
        {"3.0.0.0", 3000000, sam4},
        {"5.99.99.99", 5999999, sam4},
        {"6.0.0.0", 6000000, std::nullopt},
        {"largest", std::numeric_limits<uint32_t>::max(), std::nullopt},
    };
    for (const ChoiceRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ChooseFirmwareImage(row.version), row.expected);
    }
}

TEST(ChooseFirmwareImageTest, EveryChosenImageHasItsTableRow) {
    for (const uint32_t version : {2000000u, 2030000u, 3000000u}) {
        SCOPED_TRACE(version);
        const auto choice = ChooseFirmwareImage(version);
        ASSERT_TRUE(choice);
        const FirmwareImageInfo* info = FindFirmwareImageInfo(choice->imageId);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->engine, choice->engine);
    }
    EXPECT_EQ(FindFirmwareImageInfo(148), nullptr);
    EXPECT_EQ(FindFirmwareImageInfo(152), nullptr);
}

// --- version field ----------------------------------------------------------------------------

// An image of `size` bytes filled with 'X', whose version field holds `field` (at most 16 bytes,
// the rest of the field zero).
std::vector<uint8_t> ImageWithField(const std::string& field, size_t size = kLtxImageSize) {
    std::vector<uint8_t> image(size, 'X');
    if (size >= kImageVersionOffset + kImageVersionFieldSize) {
        std::memset(image.data() + kImageVersionOffset, 0, kImageVersionFieldSize);
        std::memcpy(image.data() + kImageVersionOffset, field.data(), field.size());
    }
    return image;
}

TEST(ReadImageVersionTextTest, FieldContents) {
    struct Row {
        const char* name;
        std::string field;
        std::string expected;
    };
    const Row rows[] = {
        {"zero-padded", "2.1.11.24", "2.1.11.24"},
        // No zero byte: the text ends with the field, not at the 'X' bytes behind it.
        {"full field", "1234567890.23456", "1234567890.23456"},
        {"empty", "", ""},
        {"stops at the first zero",
         std::string("2.4\0"
                     "9.9",
                     7),
         "2.4"},
        {"high byte as Latin-1", "v\xE9", "v\xC3\xA9"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string text = "stale";
        EXPECT_TRUE(ReadImageVersionText(ImageWithField(row.field), text));
        EXPECT_EQ(text, row.expected);
    }
}

TEST(ReadImageVersionTextTest, OnlyAnImageOfTheLtxSizeHasAVersion) {
    for (const size_t size : {size_t{0}, size_t{31}, size_t{kLtxImageSize - 1},
                              size_t{kLtxImageSize + 1}, size_t{kSam4ImageSize}}) {
        SCOPED_TRACE(size);
        std::string text = "stale";
        EXPECT_FALSE(ReadImageVersionText(ImageWithField("2.1.11.24", size), text));
        EXPECT_EQ(text, "");
    }
}

// --- loading from a module --------------------------------------------------------------------

TEST(LoadFirmwareImageTest, CopiesTheResourceOrFailsWithAnEmptyOutput) {
    const std::vector<uint8_t> bytes{1, 2, 3, 0, 5};
    const FirmwareModule module({{7, bytes}, {8, {}}});
    std::vector<uint8_t> image{9, 9};

    EXPECT_TRUE(LoadFirmwareImage(&module, 7, image));
    EXPECT_EQ(image, bytes);

    EXPECT_TRUE(LoadFirmwareImage(&module, 8, image)) << "an empty resource still exists";
    EXPECT_TRUE(image.empty());

    image = {9, 9};
    EXPECT_FALSE(LoadFirmwareImage(&module, 6, image));
    EXPECT_TRUE(image.empty());

    image = {9, 9};
    EXPECT_FALSE(LoadFirmwareImage(nullptr, 7, image));
    EXPECT_TRUE(image.empty());
}

// --- the images this program carries -----------------------------------------------------------

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(EmbeddedImagesTest, AreTheBuildsImageFilesByteForByte) {
    for (const FirmwareImageInfo& info : kFirmwareImages) {
        SCOPED_TRACE(info.id);
        std::vector<uint8_t> image;
        ASSERT_TRUE(LoadFirmwareImage(ProgramModule(), info.id, image));
        EXPECT_EQ(image.size(), info.size);
        const std::string file =
            std::string(QARN_TEST_IMAGE_DIR) + "/" + std::to_string(info.id) + ".bin";
        EXPECT_TRUE(image == ReadFile(file)) << "embedded bytes differ from " << file;
    }
}

TEST(EmbeddedImagesTest, VersionTexts) {
    std::string text = "stale";
    EXPECT_TRUE(GetSam4ImageVersionText(text));
    EXPECT_EQ(text, "3.2.62.11");
    EXPECT_FALSE(GetImageVersionText(kImageIdSam4, text)) << "image 151 has no version field";
    EXPECT_EQ(text, "");
    EXPECT_FALSE(GetImageVersionText(152, text));

    std::string first;
    std::string second;
    ASSERT_TRUE(GetImageVersionText(kImageIdLtxFirst, first));
    ASSERT_TRUE(GetImageVersionText(kImageIdLtxSecond, second));
    if (!EmbeddedImagesArePlaceholders())
        GTEST_SKIP() << "real images (" << first << ", " << second << "): no fixed texts to check";
    EXPECT_EQ(first, "2.1.11.24");
    EXPECT_EQ(second, "2.4.10.23");
}

} // namespace
} // namespace qarn
