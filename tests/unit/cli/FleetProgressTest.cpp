#include "cli/FleetProgress.h"

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qarn::cli {
namespace {

using Json = nlohmann::ordered_json;

// What a VT100 terminal shows after `bytes`: the codes FleetProgress uses (cursor up "ESC[nA",
// erase line "ESC[2K", carriage return, line feed) on a screen that grows downwards.
std::vector<std::string> Screen(const std::string& bytes) {
    std::vector<std::string> lines(1);
    size_t row = 0;
    size_t column = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
            size_t end = i + 2;
            while (end < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[end])))
                ++end;
            const int n = end > i + 2 ? std::stoi(bytes.substr(i + 2, end - i - 2)) : 1;
            if (bytes[end] == 'A')
                row -= std::min(row, static_cast<size_t>(n));
            else if (bytes[end] == 'K')
                lines[row].clear();
            i = end;
        } else if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            ++row;
            column = 0;
            if (row == lines.size())
                lines.emplace_back();
        } else {
            std::string& line = lines[row];
            if (line.size() <= column)
                line.resize(column + 1, ' ');
            line[column++] = c;
        }
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

TEST(FleetProgressTest, PlainLinesShowEachTenthOnceAndTheNotes) {
    std::ostringstream out;
    FleetProgress progress(out, FleetOutput::Lines);
    const size_t a = progress.AddLane("198.18.1.1", 1000);
    const size_t b = progress.AddLane("198.18.1.2", 2000);
    progress.SetState(a, "transferring");
    progress.SetState(b, "transferring");
    for (const int percent : {0, 5, 10, 19, 40})
        progress.Display(a).SetPos(percent);
    progress.Display(b).SetPos(0);
    progress.Note(a, "transfer done", Json::object());
    progress.Print("a line of the command");
    progress.Emit(Json{{"event", "only for JSON"}});
    EXPECT_EQ(out.str(), "198.18.1.1: 0 % (0 of 1000 bytes)\n"
                         "198.18.1.1: 10 % (100 of 1000 bytes)\n"
                         "198.18.1.1: 40 % (400 of 1000 bytes)\n"
                         "198.18.1.2: 0 % (0 of 2000 bytes)\n"
                         "198.18.1.1: transfer done\n"
                         "a line of the command\n");
}

TEST(FleetProgressTest, JsonLinesCarryTheTenthsAndTheEventsOnly) {
    std::ostringstream out;
    FleetProgress progress(out, FleetOutput::Json);
    const size_t a = progress.AddLane("198.18.1.1", 1000);
    progress.SetState(a, "transferring");
    progress.Display(a).SetPos(0);
    progress.Display(a).SetPos(3);
    progress.Display(a).SetPos(100);
    progress.Note(a, "not shown", Json{{"event", "transferred"}, {"converter", "198.18.1.1"}});
    progress.Print("not shown either");
    EXPECT_EQ(
        out.str(),
        R"({"event":"progress","converter":"198.18.1.1","percent":0,"bytes":0,"total_bytes":1000})"
        "\n"
        R"({"event":"progress","converter":"198.18.1.1","percent":100,"bytes":1000,"total_bytes":1000})"
        "\n"
        R"({"event":"transferred","converter":"198.18.1.1"})"
        "\n");
}

TEST(FleetProgressTest, BarsKeepOneLinePerRunningConverterUnderTheNotes) {
    std::ostringstream out;
    FleetProgress progress(out, FleetOutput::Bars, 5); // room for three bars and the count
    std::vector<size_t> lanes;
    for (int i = 1; i <= 5; ++i)
        lanes.push_back(progress.AddLane("198.18.1." + std::to_string(i), 100));
    for (size_t i = 0; i < 4; ++i)
        progress.SetState(lanes[i], "transferring", "waiting for its restart");
    progress.Display(lanes[0]).SetPos(100);
    std::this_thread::sleep_for(FleetProgress::kRedrawInterval);
    progress.Display(lanes[1]).SetPos(50);
    progress.Note(lanes[2], "failed: no answer", Json::object());
    progress.EndLane(lanes[2], "failed");

    EXPECT_EQ(Screen(out.str()),
              (std::vector<std::string>{
                  "198.18.1.3: failed: no answer",
                  "198.18.1.1      [##############################] 100 %  waiting for its restart",
                  "198.18.1.2      [###############---------------]  50 %  transferring",
                  "198.18.1.4      [------------------------------]   0 %  transferring",
                  "0 updated, 1 failed, 3 running, 1 waiting",
              }))
        << out.str();

    progress.SetState(lanes[4], "transferring");
    EXPECT_EQ(Screen(out.str()).back(),
              "0 updated, 1 failed, 4 running, 0 waiting (1 running not shown)");

    for (const size_t lane : {lanes[0], lanes[1], lanes[3], lanes[4]})
        progress.EndLane(lane, "updated");
    progress.Print("converter   old  new");
    progress.Finish();
    EXPECT_EQ(Screen(out.str()),
              (std::vector<std::string>{"198.18.1.3: failed: no answer", "converter   old  new"}))
        << "the block is gone, the lines above it stay";
}

} // namespace
} // namespace qarn::cli
