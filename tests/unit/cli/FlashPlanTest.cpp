#include "cli/FlashPlan.h"

#include "protocol/ConverterText.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include <gtest/gtest.h>

namespace qarn::cli {
namespace {

// A listed converter whose answers are all in and that answers echo.
LANconvDevice Listed(uint32_t firmware) {
    LANconvDevice record;
    record.dwSourceIp = record.dwIp = *ParseIpText("198.18.1.7");
    record.dwFirmwareVersion = firmware;
    record.nKind = kKindStandard;
    record.abBlockSeen.fill(true);
    record.RecomputeComplete();
    return record;
}

// An image of `size` bytes of `fill` with `version` in the version field of the fixed layout.
std::vector<uint8_t> Image(size_t size, uint8_t fill, const char* version = "") {
    std::vector<uint8_t> image(size, fill);
    if (size >= kImageVersionOffset + kImageVersionFieldSize) {
        std::fill_n(image.begin() + kImageVersionOffset, kImageVersionFieldSize, 0);
        std::memcpy(image.data() + kImageVersionOffset, version, std::strlen(version));
    }
    return image;
}

class FlashPlanTest : public ::testing::Test {
  protected:
    const std::vector<uint8_t> m_first = Image(kLtxImageSize, 0x49, "2.1.11.24");
    const std::vector<uint8_t> m_second = Image(kLtxImageSize, 0x50, "2.4.10.23");
    const std::vector<uint8_t> m_sam4 = Image(kSam4ImageSize, 0x51);
    const FirmwareModule m_module{
        {{kImageIdLtxFirst, m_first}, {kImageIdLtxSecond, m_second}, {kImageIdSam4, m_sam4}}};
};

TEST_F(FlashPlanTest, ImageByFirmwareVersionAndOnlyWhenNewer) {
    struct Expected {
        uint32_t id;
        FirmwareEngine engine;
        const char* imageVersion;
    };
    const struct {
        const char* name;
        uint32_t firmware;
        std::optional<Expected> plan;
        const char* reason; // when refused
    } cases[] = {
        {"lowest version of the first image", 2000000,
         Expected{149, FirmwareEngine::Ltx, "2.1.11.24"}, ""},
        {"just below the first image's", 2011123, Expected{149, FirmwareEngine::Ltx, "2.1.11.24"},
         ""},
        {"first image's own version", 2011124, std::nullopt,
         "198.18.1.7 has firmware 2.1.11.24, and firmware image 149 holds 2.1.11.24, which is not "
         "newer; nothing sent"},
        {"a newer one in the first range", 2029999, std::nullopt, "which is not newer"},
        {"lowest version of the second image", 2030000,
         Expected{150, FirmwareEngine::Ltx, "2.4.10.23"}, ""},
        {"standard simulated converter", 2040903, Expected{150, FirmwareEngine::Ltx, "2.4.10.23"},
         ""},
        {"second image's own version", 2041023, std::nullopt, "which is not newer"},
        {"lowest for the 1024-byte transfer", 3000000,
         Expected{151, FirmwareEngine::Sam4, "3.2.62.11"}, ""},
        {"extended simulated converter", 3012004, Expected{151, FirmwareEngine::Sam4, "3.2.62.11"},
         ""},
        {"highest in range, but newer than the image", 5999999, std::nullopt,
         "198.18.1.7 has firmware 5.99.99.99, and firmware image 151 holds 3.2.62.11, which is not "
         "newer; nothing sent"},
        {"below every range", 1999999, std::nullopt,
         "firmware 1.99.99.99 of 198.18.1.7 is outside 2.0.0.0 to 5.99.99.99: no image is meant "
         "for it; nothing sent"},
        {"above every range", 6000000, std::nullopt, "firmware 6.0.0.0 of 198.18.1.7 is outside"},
        {"version unknown", 0, std::nullopt,
         "the firmware version of 198.18.1.7 is not known (its answers carry no version number); "
         "nothing sent"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlashPlan plan;
        std::string why;
        const bool planned = PlanFlash(Listed(c.firmware), &m_module, plan, &why);
        ASSERT_EQ(planned, c.plan.has_value()) << why;
        if (!c.plan) {
            EXPECT_NE(why.find(c.reason), std::string::npos) << why;
            continue;
        }
        EXPECT_EQ(plan.choice, (FirmwareChoice{c.plan->id, c.plan->engine}));
        EXPECT_EQ(VersionText(plan.imageVersion), c.plan->imageVersion);
        const auto& expectedBytes = c.plan->id == 149   ? m_first
                                    : c.plan->id == 150 ? m_second
                                                        : m_sam4;
        EXPECT_EQ(plan.image, expectedBytes);
    }
}

// Complete without a single answer, it is refused for the echo, not for an unknown version.
TEST_F(FlashPlanTest, ConverterDeafToEchoIsRefused) {
    for (const uint32_t firmware : {2040903u, 0u}) {
        SCOPED_TRACE(firmware);
        LANconvDevice record = Listed(firmware);
        record.bUnreachable = true;
        FlashPlan plan;
        std::string why;
        EXPECT_FALSE(PlanFlash(record, &m_module, plan, &why));
        EXPECT_EQ(why, "198.18.1.7 does not answer echo, and the update needs it to; nothing sent");
    }
}

// The images of a build pointed at other files: each must suit its transfer before anything goes.
TEST(FlashPlanImageTest, ImagesThatCannotBeSentAreRefused) {
    const std::vector<uint8_t> shortLtx = Image(kLtxImageSize - 1, 0x50, "2.4.10.23");
    const std::vector<uint8_t> noVersion = Image(kLtxImageSize, 0x50, "");
    const std::vector<uint8_t> empty;
    const struct {
        const char* name;
        FirmwareModule module;
        uint32_t firmware;
        const char* reason;
    } cases[] = {
        {"image missing", FirmwareModule({{kImageIdLtxSecond, noVersion}}), 3012004,
         "this program carries no firmware image 151 (for 198.18.1.7 at firmware 3.1.20.4); "
         "nothing sent"},
        {"fixed layout one byte short", FirmwareModule({{kImageIdLtxSecond, shortLtx}}), 2040903,
         "firmware image 150 has 131071 bytes; its transfer takes exactly 131072 bytes; nothing "
         "sent"},
        {"empty 1024-byte image", FirmwareModule({{kImageIdSam4, empty}}), 3012004,
         "firmware image 151 has 0 bytes; its transfer takes 1 to 67108864 bytes"},
        {"no version in the field", FirmwareModule({{kImageIdLtxSecond, noVersion}}), 2040903,
         "firmware image 150 names no version; nothing sent"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlashPlan plan;
        std::string why;
        EXPECT_FALSE(PlanFlash(Listed(c.firmware), &c.module, plan, &why));
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
}

// The program's own images: the plan carries exactly the bytes the image choice names.
TEST(FlashPlanImageTest, ProgramImagesAreWiredByTheImageChoice) {
    for (const uint32_t firmware : {2000000u, 2040903u, 3012004u}) {
        SCOPED_TRACE(firmware);
        FlashPlan plan;
        std::string why;
        ASSERT_TRUE(PlanFlash(Listed(firmware), ProgramModule(), plan, &why)) << why;
        EXPECT_EQ(plan.choice, ChooseFirmwareImage(firmware));
        std::vector<uint8_t> embedded;
        ASSERT_TRUE(LoadFirmwareImage(ProgramModule(), plan.choice.imageId, embedded));
        EXPECT_EQ(plan.image, embedded);
        EXPECT_GT(plan.imageVersion, firmware);
    }
}

TEST(TransferFailureReasonTest, SaysHowFarTheTransferCameAndWhatHappened) {
    const struct {
        const char* name;
        TransferOutcome outcome;
        const char* reason;
    } cases[] = {
        {"endpoint not opened",
         {false, 0, 0, 131072, "the transfer's endpoint could not be opened"},
         "the transfer to 198.18.1.2 could not begin: UDP port 58009 could not be opened (is "
         "another program using it?)"},
        {"service not running",
         {false, 0, 0, 131072, "", true},
         "the transfer to 198.18.1.2 could not begin: the local communication service "
         "(qarn-comm-service) is not running for this user"},
        {"silent at the first block",
         {true, 0, 0, 148972,
          "block 0 of 146 was not acknowledged (3 of 3 attempts without an "
          "answer)"},
         "the transfer to 198.18.1.2 broke off at 0 % (0 of 148972 bytes): block 0 of 146 was not "
         "acknowledged (3 of 3 attempts without an answer)"},
        {"refused commit",
         {true, 99, 147456, 148972,
          "the converter refused the image: it answered the commit 3 "
          "times without consent"},
         "the transfer to 198.18.1.2 broke off at 99 % (147456 of 148972 bytes): the converter "
         "refused the image: it answered the commit 3 times without consent"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TransferFailureReason("198.18.1.2", c.outcome), c.reason);
    }
}

} // namespace
} // namespace qarn::cli
