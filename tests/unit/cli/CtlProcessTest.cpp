#include "platform/FileMutex.h"
#include "support/TempDir.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

#include <gtest/gtest.h>

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the real program through the shell with its settings store in `store`.
Result RunProgram(const qarn::test::TempDir& dir, const std::string& store,
                  const std::string& args) {
    const auto out = dir / "out.txt";
    const auto err = dir / "err.txt";
    const std::string command = "QARN_REGISTRY_ROOT='" + store + "' '" QARN_CTL_EXECUTABLE "' " +
                                args + " >'" + out.string() + "' 2>'" + err.string() + "'";
    const int raw = std::system(command.c_str());
    Result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = qarn::test::ReadTextFile(out);
    result.err = qarn::test::ReadTextFile(err);
    return result;
}

TEST(CtlProcessTest, ExitStatusesOfTheProgram) {
    qarn::test::TempDir dir{"qarn-cli-process"};
    const std::string store = (dir / "registry").string();
    std::filesystem::create_directories(store);
    std::filesystem::create_directories(dir / "logs");
    const std::string logs = (dir / "logs").string();
    // Another copy of the program "running": it holds the log mutex, whose logger then remarks on
    // the debug output that the mutex exists. That remark must not reach standard error, where
    // each failure has exactly one line.
    qarn::platform::FileMutex otherCopy;
    ASSERT_NE(otherCopy.Open(logs + "/qarn-converter-ctl.lock"),
              qarn::platform::FileMutex::OpenResult::Failed);

    const struct {
        const char* name;
        std::string args;
        int status;
        size_t errLines;
    } cases[] = {
        {"help", "--help", 0, 0},
        {"verb help", "diagnostics set --help", 0, 0},
        {"no verb", "", 2, 1},
        {"unknown option", "diagnostics show --bogus", 2, 1},
        {"refused setting", "diagnostics set --log-level 9", 1, 1},
        {"set", "diagnostics set --log-level 4 --log-folder '" + logs + "'", 0, 0},
        {"show", "diagnostics show", 0, 0},
        {"clear", "diagnostics clear", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result result = RunProgram(dir, store, c.args);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_EQ(static_cast<size_t>(std::count(result.err.begin(), result.err.end(), '\n')),
                  c.errLines)
            << result.err;
    }
    // The program logged into the folder it was given while logging was on.
    EXPECT_TRUE(std::filesystem::exists(dir / "logs" / "qarn-converter-ctl.txt"));
}

} // namespace
