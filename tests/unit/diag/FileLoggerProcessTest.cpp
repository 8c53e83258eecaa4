#include "helpers/LogTestSupport.h"
#include "platform/FileMutex.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

#include <gtest/gtest.h>

// Real processes of one program sharing the log file and its mutex, run through the log driver.

namespace qarn {
namespace {

using testing::LogFile;
using testing::ProgramRun;
using testing::ReadLogFile;
using testing::RunningProgram;

class FileLoggerProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(m_logs);
        std::filesystem::create_directories(m_bin);
        ASSERT_TRUE(testing::StoreLogSettings(true, 3, m_logs));
    }

    // A copy of the driver under another file name: the name decides log file and mutex.
    std::string DriverNamed(const std::string& fileName) const {
        const std::string path = m_bin + "/" + fileName;
        std::filesystem::copy_file(QARN_LOG_DRIVER, path,
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }

    test::TempDir m_temp{"qarn-log"};
    test::ScopedRegistryRoot m_store{m_temp};
    std::string m_logs = m_temp / "logs";
    std::string m_bin = m_temp / "bin";
};

TEST_F(FileLoggerProcessTest, ProcessesOfSeveralThreadsEachWriteOnlyWholeLines) {
    constexpr int kThreads = 4;
    constexpr int kLines = 500;
    const std::string command = std::string(QARN_LOG_DRIVER) + " " + std::to_string(kThreads) +
                                " " + std::to_string(kLines) + " info ";
    RunningProgram first(command + "A");
    RunningProgram second(command + "B");
    const ProgramRun runs[] = {first.Finish(), second.Finish()};
    for (const ProgramRun& run : runs) {
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_NE(run.output.find("logged " + std::to_string(kThreads * kLines)), std::string::npos)
            << run.output;
    }

    const LogFile file = ReadLogFile(m_logs + "/qarn_log_driver.txt");
    ASSERT_TRUE(file.exists);
    EXPECT_EQ(file.marks, 1u);
    EXPECT_FALSE(file.oddLength);
    const std::regex pattern(R"(^\[0x[0-9a-f]{8}\] \d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d\.\d{3} - )"
                             R"(INFO    - driver ([AB]) pid \d+ thread (\d) line (\d+) )"
                             "gr\xC3\xBC\xC3\x9F"
                             "e \xF0\x9D\x84\x9E$");
    std::set<std::tuple<std::string, int, int>> seen;
    std::map<std::pair<std::string, int>, int> lastLine; // per writer: lines stay in order
    for (size_t k = 0; k < file.lines.size(); ++k) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(file.lines[k], match, pattern))
            << "line " << k << " torn or mixed: " << file.lines[k];
        ASSERT_EQ(file.ends[k], "\r\n") << "line " << k;
        const std::string tag = match[1];
        const int thread = std::stoi(match[2]);
        const int line = std::stoi(match[3]);
        EXPECT_TRUE(seen.emplace(tag, thread, line).second) << "line " << k << " twice";
        const auto writer = std::make_pair(tag, thread);
        const auto previous = lastLine.find(writer);
        if (previous != lastLine.end()) {
            EXPECT_GT(line, previous->second) << "line " << k;
        }
        lastLine[writer] = line;
    }
    const size_t expected = 2u * kThreads * kLines;
    EXPECT_GT(file.lines.size(), 0u);
    RecordProperty("lines_expected", static_cast<int>(expected));
    RecordProperty("lines_written", static_cast<int>(file.lines.size()));
    std::cout << "[ lines    ] " << file.lines.size() << " of " << expected
              << " written, the rest dropped after a 10 ms wait for the mutex\n";
}

TEST_F(FileLoggerProcessTest, ProgramFileNameGivesLogFileAndMutex) {
    struct Row {
        const char* fileName;
        const char* logFile;
        const char* mutex;
    };
    const Row rows[] = {
        {"tool.exe", "tool.txt", "Global\\tool.exe"},
        {"my.tool.exe", "my.txt", "Global\\my.tool.exe"},
        {"tool2.exe", "tool2.txt", "Global\\tool2.exe"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fileName);
        RunningProgram program(DriverNamed(row.fileName) + " 1 1 info");
        const ProgramRun run = program.Finish();
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_NE(run.output.find(std::string("mutex ") + row.mutex + "\n"), std::string::npos)
            << run.output;
        const LogFile file = ReadLogFile(m_logs + "/" + row.logFile);
        ASSERT_EQ(file.lines.size(), 1u);
        EXPECT_NE(file.lines[0].find("driver run pid"), std::string::npos);
    }
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(m_logs))
        files.insert(entry.path().filename().string());
    EXPECT_EQ(files, (std::set<std::string>{"tool.txt", "tool.exe.lock", "my.txt",
                                            "my.tool.exe.lock", "tool2.txt", "tool2.exe.lock"}))
        << "per program name a log file and its mutex's lock file, nothing else";
}

TEST_F(FileLoggerProcessTest, BusyMutexDropsTheLineAndSaysSoOnTheDebugOutput) {
    const std::string fileName = "busy" + std::to_string(getpid()) + ".exe";
    const std::string mutexName = "Global\\" + fileName;
    const std::string logPath = m_logs + "/busy" + std::to_string(getpid()) + ".txt";
    const std::string command = DriverNamed(fileName) + " 1 1 info 2>&1";
    const std::string exists =
        "CFileLogger::CFileLogger(): Info: '" + mutexName + "' Mutex already exists\n";

    platform::FileMutex holder;
    ASSERT_EQ(holder.Open(m_logs + "/" + fileName + ".lock"),
              platform::FileMutex::OpenResult::Created);
    ASSERT_EQ(holder.TimedLock(1000), platform::FileMutex::LockResult::Acquired);
    ProgramRun run = RunningProgram(command).Finish();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find(exists), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("CFileLogger::IsMutexFree(): WaitForSingleObject() returns: 258\n"),
              std::string::npos)
        << run.output;
    EXPECT_TRUE(ReadLogFile(logPath).lines.empty()) << "the line is dropped, not delayed";

    ASSERT_TRUE(holder.Unlock());
    run = RunningProgram(command).Finish();
    EXPECT_NE(run.output.find(exists), std::string::npos) << "still held open: " << run.output;
    EXPECT_EQ(run.output.find("IsMutexFree"), std::string::npos) << run.output;
    EXPECT_EQ(ReadLogFile(logPath).lines.size(), 1u);

    ASSERT_TRUE(holder.Close());
    run = RunningProgram(command).Finish();
    EXPECT_EQ(run.output.find("already exists"), std::string::npos)
        << "no other holder lives: " << run.output;
    EXPECT_EQ(ReadLogFile(logPath).lines.size(), 2u);
}

// What another user could plant in a log folder they can write: the program never writes
// through a link (to a file of someone else, or where a dangling one points), never waits on a
// FIFO, never appends to another user's file and never joins another user's lock file. Its lines
// are dropped instead; the process goes on.
TEST_F(FileLoggerProcessTest, LinksFifosAndOtherUsersFilesAreNeverWrittenThrough) {
    const std::string fileName = "planted" + std::to_string(getpid()) + ".exe";
    const std::string log = m_logs + "/planted" + std::to_string(getpid()) + ".txt";
    const std::string lock = m_logs + "/" + fileName + ".lock";
    const std::string victim = m_temp / "victim";
    const std::string nowhere = m_temp / "nowhere";
    const bool root = geteuid() == 0;
    const auto foreignFile = [](const std::string& path) {
        std::ofstream(path) << "";
        (void)!chown(path.c_str(), 65534, 65534);
    };
    struct Row {
        const char* name;
        std::function<void()> plant;
        bool needsRoot;
    };
    const Row rows[] = {
        {"log file is a link to another file",
         [&] { std::filesystem::create_symlink(victim, log); }, false},
        {"log file is a dangling link", [&] { std::filesystem::create_symlink(nowhere, log); },
         false},
        {"log file is a FIFO", [&] { mkfifo(log.c_str(), 0666); }, false},
        {"lock file is a link", [&] { std::filesystem::create_symlink(victim, lock); }, false},
        {"log file of another user", [&] { foreignFile(log); }, true},
        {"lock file of another user", [&] { foreignFile(lock); }, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsRoot && !root) {
            std::cout << "[ skipped  ] " << row.name << ": needs root to make a file of another "
                      << "user\n";
            continue;
        }
        std::filesystem::remove(log);
        std::filesystem::remove(lock);
        std::ofstream(victim) << "keep";
        row.plant();
        const ProgramRun run = RunningProgram(DriverNamed(fileName) + " 1 3 info 2>&1").Finish();
        EXPECT_EQ(run.exitCode, 0) << run.output;
        std::ifstream kept(victim);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
        EXPECT_FALSE(std::filesystem::exists(nowhere));
        if (std::filesystem::is_regular_file(std::filesystem::symlink_status(log))) {
            EXPECT_TRUE(ReadLogFile(log).lines.empty()) << "another user's file got lines";
        }
    }

    // Left alone, the program makes both files itself, neither writable by other users.
    std::filesystem::remove(log);
    std::filesystem::remove(lock);
    const ProgramRun run = RunningProgram(DriverNamed(fileName) + " 1 1 info").Finish();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(ReadLogFile(log).lines.size(), 1u);
    struct stat info {};
    ASSERT_EQ(stat(lock.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    ASSERT_EQ(stat(log.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0022, 0u) << "the log is writable by others";
}

} // namespace
} // namespace qarn
