#include "cli/TextProgress.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn::cli {
namespace {

// The positions the 1024-byte transfer of a 148972-byte image sets, as the engine calls the
// display: 0 with both repaints once its endpoint is open, then (k * 1000 / 146) / 10 and a
// repaint of the parent after each acknowledged block k, 100 after the commit, and at its end
// the text switched off and emptied.
void DriveLikeTheEngine(IProgressDisplay& display) {
    display.SetPos(0);
    display.RepaintNow();
    display.RepaintParentNow();
    for (int k = 0; k < 146; ++k) {
        display.SetPos(k * 1000 / 146 / 10);
        display.RepaintParentNow();
    }
    display.SetPos(100);
    display.RepaintParentNow();
    display.SetShowText(false);
    display.SetWindowText("");
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(TextProgressTest, PlainLinesAtEachTenthOfAWholeTransfer) {
    std::ostringstream out;
    TextProgress progress(out, ProgressStyle::Lines, 148972);
    progress.SetWindowText("198.18.1.1: ");
    progress.SetShowText(true);
    DriveLikeTheEngine(progress);
    progress.Finish();

    const std::vector<std::string> lines = SplitLines(out.str());
    ASSERT_EQ(lines.size(), 11u) << out.str();
    EXPECT_EQ(lines.front(), "198.18.1.1: 0 % (0 of 148972 bytes)");
    EXPECT_EQ(lines[4], "198.18.1.1: 40 % (59588 of 148972 bytes)");
    EXPECT_EQ(lines.back(), "198.18.1.1: 100 % (148972 of 148972 bytes)");
    EXPECT_EQ(out.str().find('\r'), std::string::npos) << "no carriage return into a file";
    EXPECT_EQ(progress.Position(), 100);
}

TEST(TextProgressTest, PlainLinesForJumpsClampsAndHiddenText) {
    const struct {
        const char* name;
        std::vector<int32_t> positions;
        bool showText;
        std::vector<std::string> lines;
    } cases[] = {
        {"a jump over several tenths is one line",
         {0, 35, 36, 39, 40, 100},
         true,
         {"x: 0 % (0 of 1000 bytes)", "x: 35 % (350 of 1000 bytes)", "x: 40 % (400 of 1000 bytes)",
          "x: 100 % (1000 of 1000 bytes)"}},
        {"out of range is clamped",
         {-5, 250},
         true,
         {"x: 0 % (0 of 1000 bytes)", "x: 100 % (1000 of 1000 bytes)"}},
        {"a step back prints nothing", {50, 20, 30, 49}, true, {"x: 50 % (500 of 1000 bytes)"}},
        {"text off prints nothing", {0, 50, 100}, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ostringstream out;
        TextProgress progress(out, ProgressStyle::Lines, 1000);
        progress.SetWindowText("x: ");
        progress.SetShowText(c.showText);
        for (const int32_t position : c.positions)
            progress.SetPos(position);
        EXPECT_EQ(SplitLines(out.str()), c.lines) << out.str();
    }
}

TEST(TextProgressTest, BarRedrawsOneLineInPlaceAndKeepsItsLastState) {
    std::ostringstream out;
    TextProgress progress(out, ProgressStyle::Bar, 148972);
    progress.SetWindowText("198.18.1.1: ");
    progress.SetShowText(true);
    DriveLikeTheEngine(progress);
    progress.Finish();
    const std::string text = out.str();

    // One draw per distinct percentage, each starting at the line's beginning.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 101) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << "one line, ended once";
    EXPECT_NE(text.find("\r198.18.1.1: [############------------------]  40 %  59588 of 148972 "
                        "bytes\r"),
              std::string::npos)
        << text;
    // The engine switched the text off at its end without a repaint: the last line stays whole.
    const std::string last = text.substr(text.rfind('\r'));
    EXPECT_EQ(last,
              "\r198.18.1.1: [##############################] 100 %  148972 of 148972 bytes\n");
}

TEST(TextProgressTest, BarCoversALongerLineAndFinishesOnlyAnOpenOne) {
    std::ostringstream out;
    TextProgress progress(out, ProgressStyle::Bar, 1000);
    progress.Finish();
    progress.RepaintNow();
    EXPECT_EQ(out.str(), "") << "nothing before the first position";
    EXPECT_FALSE(progress.Started());

    progress.SetWindowText("a longer label: ");
    progress.SetPos(7);
    progress.SetWindowText("x: ");
    progress.RepaintParentNow();
    progress.Finish();
    progress.Finish();
    const std::string first =
        "\ra longer label: [##----------------------------]   7 %  70 of 1000 bytes";
    const std::string second = "\rx: [##----------------------------]   7 %  70 of 1000 bytes";
    EXPECT_EQ(out.str(), first + second + std::string(first.size() - second.size(), ' ') + "\n");
    EXPECT_TRUE(progress.Started());
}

} // namespace
} // namespace qarn::cli
