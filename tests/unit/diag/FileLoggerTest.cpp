#include "diag/FileLogger.h"

#include "diag/CFileLogger.h"
#include "helpers/LogTestSupport.h"
#include "platform/Process.h"
#include "platform/SystemTime.h"
#include "support/TempDir.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using testing::LogFile;
using testing::ReadBytes;
using testing::ReadLogFile;
using testing::WriteBytes;

constexpr char kLinePattern[] = R"(^\[0x([0-9a-f]{8})\] )"
                                R"((\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2}\.\d{3}) - )"
                                R"((DEBUG   |INFO    |WARNING |ERROR   )- (.*)$)";

std::string ModuleStem() {
    const std::string name = platform::GetModuleBaseName().value_or("");
    return name.substr(0, name.find('.'));
}

// The log's own time format, to bracket what a line may carry: "2017.03.08 14:05:09.042".
std::string LineStampNow() {
    const platform::SystemTime t = platform::GetLocalTime();
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04u.%02u.%02u %02u:%02u:%02u.%03u", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.milliseconds);
    return buffer;
}

// The suffix of a rotated file for `secondsAhead` seconds from now: "20170308140509".
std::string RotationStamp(int secondsAhead = 0) {
    const std::time_t when = std::time(nullptr) + secondsAhead;
    std::tm local{};
    localtime_r(&when, &local);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%Y%m%d%H%M%S", &local);
    return buffer;
}

std::vector<std::string> RotatedFiles(const std::string& folder, const std::string& logPath) {
    const std::string prefix = std::filesystem::path(logPath).filename().string() + "_";
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0)
            found.push_back(entry.path().string());
    }
    return found;
}

void MakeFileOfSize(const std::string& path, uintmax_t size) {
    WriteBytes(path, {});
    std::filesystem::resize_file(path, size);
}

class FileLoggerTest : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directories(m_logs); }

    // Settings for a logger built directly, without the facility.
    void Configure(int32_t level) { ASSERT_TRUE(testing::StoreLogSettings(true, level, m_logs)); }

    std::string LogPath() const { return m_logs + "/" + ModuleStem() + ".txt"; }

    test::TempDir m_temp{"qarn-log"};
    test::ScopedRegistryRoot m_store{m_temp};
    std::string m_logs = m_temp / "logs";
};

struct LevelRow {
    const char* label;
    bool enabled;
    int32_t level;
    bool folderExists;
    bool debug, info, warning, error; // lines (and level tests) that must come through
};

TEST_F(FileLoggerTest, LevelDecidesWhichLinesAndLevelTestsComeThrough) {
    const LevelRow rows[] = {
        {"level 0 is not a working level", true, 0, true, false, false, false, false},
        {"level 1: errors", true, 1, true, false, false, false, true},
        {"level 2: plus warnings", true, 2, true, false, false, true, true},
        {"level 3: plus information", true, 3, true, false, true, true, true},
        {"level 4: everything", true, 4, true, true, true, true, true},
        {"logging disabled", false, 4, true, false, false, false, false},
        {"folder missing", true, 4, false, false, false, false, false},
    };
    int index = 0;
    for (const LevelRow& row : rows) {
        SCOPED_TRACE(row.label);
        const std::string folder = m_logs + "/" + std::to_string(index++);
        if (row.folderExists)
            std::filesystem::create_directories(folder);
        ASSERT_TRUE(testing::StoreLogSettings(row.enabled, row.level, folder));

        InitFileLoggerFacility();
        EXPECT_EQ(IsDebugLogEnabled(), row.debug);
        EXPECT_EQ(IsInfoLogEnabled(), row.info);
        EXPECT_EQ(IsWarningLogEnabled(), row.warning);
        EXPECT_EQ(IsErrorLogEnabled(), row.error);
        LogDebug("debug text");
        LogInfo(std::string("info text"));
        LogWarning("warning text");
        LogError(std::string("error text"));
        ShutdownFileLoggerFacility();
        EXPECT_FALSE(IsErrorLogEnabled()) << "no logger after shutdown";
        LogError("after shutdown"); // must do nothing, and not crash

        std::vector<std::string> expected;
        const std::string context = platform::GetModuleBaseName().value_or("");
        if (row.debug)
            expected.push_back("FileLogger facility initialized for context: " + context);
        for (const auto& [wanted, text] : {std::pair{row.debug, "debug text"},
                                           {row.info, "info text"},
                                           {row.warning, "warning text"},
                                           {row.error, "error text"}}) {
            if (wanted)
                expected.push_back(text);
        }
        if (row.debug)
            expected.push_back("FileLogger facility destroyed for context: " + context);

        const LogFile file = ReadLogFile(folder + "/" + ModuleStem() + ".txt");
        EXPECT_EQ(file.exists, !expected.empty()) << "a log that is off creates no file";
        std::vector<std::string> texts;
        const std::regex line(kLinePattern);
        for (const std::string& text : file.lines) {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(text, match, line)) << text;
            texts.push_back(match[4]);
        }
        EXPECT_EQ(texts, expected);
    }
}

TEST_F(FileLoggerTest, LinesCarryThreadTimeAndLevelAndEndPerLevel) {
    Configure(4);
    CFileLogger logger;
    const std::string before = LineStampNow();
    logger.Debug("d");
    logger.Info("i");
    logger.Warning("w");
    logger.Error("e");
    const std::string after = LineStampNow();

    const LogFile file = ReadLogFile(LogPath());
    EXPECT_TRUE(file.startsWithMark);
    EXPECT_EQ(file.marks, 1u) << "the byte-order mark only starts a new file";
    ASSERT_EQ(file.lines.size(), 4u);
    const std::string levels[] = {"DEBUG   ", "INFO    ", "WARNING ", "ERROR   "};
    const std::string texts[] = {"d", "i", "w", "e"};
    const std::string ends[] = {"\r\n", "\r\n", "\r\n", "\n"};
    char ownThread[16];
    std::snprintf(ownThread, sizeof ownThread, "%08x", platform::GetCurrentThreadId());
    for (size_t k = 0; k < 4; ++k) {
        SCOPED_TRACE(levels[k]);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(file.lines[k], match, std::regex(kLinePattern)))
            << file.lines[k];
        EXPECT_EQ(match[1], ownThread);
        // Fixed-width fields, largest first: text order is time order.
        EXPECT_GE(match[2].str(), before);
        EXPECT_LE(match[2].str(), after);
        EXPECT_EQ(match[3], levels[k]);
        EXPECT_EQ(match[4], texts[k]);
        EXPECT_EQ(file.ends[k], ends[k]);
    }
}

TEST_F(FileLoggerTest, TextsArriveAsUtf16AndNullWritesNothing) {
    Configure(3);
    CFileLogger logger;
    logger.Info(static_cast<const char*>(nullptr));
    EXPECT_FALSE(std::filesystem::exists(LogPath())) << "a null text writes nothing at all";

    logger.Info("");
    logger.Warning("\xC3\xA9\xF0\x9D\x84\x9E\xFF"); // e-acute, G clef, a byte that is no UTF-8
    const LogFile file = ReadLogFile(LogPath());
    ASSERT_EQ(file.lines.size(), 2u);
    EXPECT_TRUE(
        std::regex_match(file.lines[0], std::regex(R"(^\[0x[0-9a-f]{8}\] .{23} - INFO    - $)")))
        << "an empty text still makes a line: " << file.lines[0];

    const std::vector<uint8_t> bytes = ReadBytes(LogPath());
    const std::vector<uint8_t> tail = {0xE9, 0x00, 0x34, 0xD8, 0x1E, 0xDD,
                                       0xFD, 0xFF, 0x0D, 0x00, 0x0A, 0x00};
    ASSERT_GE(bytes.size(), tail.size());
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - static_cast<long>(tail.size()), bytes.end()),
              tail);
}

TEST_F(FileLoggerTest, FileIsMovedAsideFromExactlyEightMebibytes) {
    struct Row {
        const char* label;
        uintmax_t size;
        bool rotated;
    };
    const Row rows[] = {{"one byte short", 8388607, false},
                        {"exactly at the limit", 8388608, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::filesystem::remove_all(m_logs);
        std::filesystem::create_directories(m_logs);
        Configure(3);
        CFileLogger logger;
        MakeFileOfSize(LogPath(), row.size);
        const std::string before = RotationStamp();
        logger.Info("next");
        const std::string after = RotationStamp();

        const std::vector<std::string> rotated = RotatedFiles(m_logs, LogPath());
        const LogFile current = ReadLogFile(LogPath());
        if (!row.rotated) {
            EXPECT_TRUE(rotated.empty());
            const std::vector<uint8_t> bytes = ReadBytes(LogPath());
            ASSERT_GT(bytes.size(), row.size);
            EXPECT_EQ(bytes[row.size], '[') << "appended right after, without a byte-order mark";
            EXPECT_EQ(current.marks, 0u);
            continue;
        }
        ASSERT_EQ(rotated.size(), 1u);
        const std::string suffix = rotated[0].substr(LogPath().size() + 1);
        EXPECT_TRUE(std::regex_match(suffix, std::regex(R"(\d{14})"))) << suffix;
        EXPECT_GE(suffix, before);
        EXPECT_LE(suffix, after);
        EXPECT_EQ(std::filesystem::file_size(rotated[0]), row.size);
        EXPECT_TRUE(current.startsWithMark);
        ASSERT_EQ(current.lines.size(), 1u);
        EXPECT_NE(current.lines[0].find("INFO    - next"), std::string::npos);
    }
}

TEST_F(FileLoggerTest, FullFileFoundAtStartIsMovedAtOnce) {
    Configure(1);
    MakeFileOfSize(LogPath(), 8388608);
    CFileLogger logger;
    ASSERT_EQ(RotatedFiles(m_logs, LogPath()).size(), 1u);
    ASSERT_TRUE(std::filesystem::exists(LogPath())) << "a fresh file follows the move";
    EXPECT_EQ(std::filesystem::file_size(LogPath()), 0u);
}

TEST_F(FileLoggerTest, TakenRotationNameKeepsTheLineInTheFullFileUntilItIsFree) {
    Configure(3);
    CFileLogger logger;
    MakeFileOfSize(LogPath(), 8388608);
    // The current second and the next two: the line below cannot outrun all three.
    std::vector<std::string> blockers;
    for (int ahead = 0; ahead < 3; ++ahead) {
        blockers.push_back(LogPath() + "_" + RotationStamp(ahead));
        WriteBytes(blockers.back(), {'o', 'l', 'd'});
    }
    logger.Info("kept");
    const uintmax_t grown = std::filesystem::file_size(LogPath());
    EXPECT_GT(grown, 8388608u) << "the line goes on into the full file";
    for (const std::string& blocker : blockers)
        EXPECT_EQ(ReadBytes(blocker), (std::vector<uint8_t>{'o', 'l', 'd'})) << blocker;

    for (const std::string& blocker : blockers)
        std::filesystem::remove(blocker);
    logger.Info("moved");
    const std::vector<std::string> rotated = RotatedFiles(m_logs, LogPath());
    ASSERT_EQ(rotated.size(), 1u) << "the next line tries again";
    EXPECT_EQ(std::filesystem::file_size(rotated[0]), grown);
    const LogFile current = ReadLogFile(LogPath());
    ASSERT_EQ(current.lines.size(), 1u);
    EXPECT_NE(current.lines[0].find("moved"), std::string::npos);
}

// Settings code run while the logger is being built may log (a failing key close does). That
// must neither build a second logger nor wait for the lock its own thread holds.
std::atomic<int> g_hookCalls{0};
std::atomic<bool> g_levelSeenWhileBuilding{true};

TEST_F(FileLoggerTest, LoggingFromTheSettingsReadWhileBuildingDoesNothing) {
    Configure(4);
    g_hookCalls = 0;
    CFileLogger::SetSettingsReadHook([] {
        g_hookCalls.fetch_add(1);
        g_levelSeenWhileBuilding = IsErrorLogEnabled();
        LogError("from the settings read");
        LogDebug(std::string("from the settings read"));
    });
    InitFileLoggerFacility();
    CFileLogger::SetSettingsReadHook(nullptr);
    LogError("after building");
    ShutdownFileLoggerFacility();

    EXPECT_EQ(g_hookCalls.load(), 1) << "one logger, built once";
    EXPECT_FALSE(g_levelSeenWhileBuilding.load());
    const LogFile file = ReadLogFile(LogPath());
    ASSERT_EQ(file.lines.size(), 3u); // start line, "after building", end line
    EXPECT_NE(file.lines[1].find("ERROR   - after building"), std::string::npos);
}

TEST_F(FileLoggerTest, ThreadsMayLogWhileTheFacilityStartsAndStops) {
    Configure(3);
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            while (!stop.load()) {
                if (IsInfoLogEnabled() || t % 2 == 0)
                    LogInfo("thread " + std::to_string(t));
                calls.fetch_add(1);
            }
        });
    }
    for (int round = 0; round < 5; ++round) {
        InitFileLoggerFacility();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ShutdownFileLoggerFacility();
    }
    stop = true;
    for (auto& thread : threads)
        thread.join();

    const LogFile file = ReadLogFile(LogPath());
    ASSERT_TRUE(file.exists);
    EXPECT_EQ(file.marks, 1u);
    EXPECT_FALSE(file.oddLength);
    const std::regex line(kLinePattern);
    for (size_t k = 0; k < file.lines.size(); ++k) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(file.lines[k], match, line)) << "line " << k;
        EXPECT_TRUE(std::regex_match(match[4].str(), std::regex(R"(thread [0-3])")));
        EXPECT_EQ(file.ends[k], "\r\n");
    }
    EXPECT_GT(file.lines.size(), 0u);
    EXPECT_LE(static_cast<long>(file.lines.size()), calls.load());
}

} // namespace
} // namespace qarn
