#include "app/CInstanceHandler.h"

#include "platform/InstanceLock.h"
#include "support/TempDir.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

extern char** environ;

namespace qarn {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Generous bound for one step of a probe (start a Qt program, take the lock, answer); a step
// normally takes a fraction of a second.
constexpr int kStepTimeoutMs = 5000;

// Sets an environment variable for the life of the object, then restores what was there.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value) : m_name(name) {
        if (const char* previous = std::getenv(name))
            m_previous = previous;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (m_previous)
            setenv(m_name, m_previous->c_str(), 1);
        else
            unsetenv(m_name);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* m_name;
    std::optional<std::string> m_previous;
};

// A session runtime folder of our own, so that tests neither see the user's real copies nor each
// other's. The guard's files lie in its "qarn" subfolder.
class RuntimeFolder {
  public:
    RuntimeFolder() {
        fs::create_directory(Base());
        fs::permissions(Base(), fs::perms::owner_all, fs::perm_options::replace);
    }
    fs::path Base() const { return m_temp / "run"; }
    fs::path Guard() const { return Base() / "qarn"; }
    const qarn::test::TempDir& Temp() const { return m_temp; }

  private:
    qarn::test::TempDir m_temp{"qarn-guard"};
};

// ---------------------------------------------------------------------------------------------
// The guard inside this process: several handler objects stand for several copies, as the locks
// belong to open files, not to processes.

class InstanceHandlerTest : public ::testing::Test {
  protected:
    bool StartupLockHeld(const std::string& instance) const {
        return platform::InstanceLock::IsHeld(m_folder.Guard() / (instance + ".lock"));
    }
    bool RecordHeld(const std::string& instance) const {
        return platform::InstanceLock::IsHeld(RecordPath(instance));
    }
    std::string RecordPath(const std::string& instance) const {
        return m_folder.Guard() / ("InstanceHandler_for_" + instance);
    }

    RuntimeFolder m_folder;
    ScopedEnvironment m_runtime{"XDG_RUNTIME_DIR", m_folder.Base()};
};

TEST_F(InstanceHandlerTest, StartupLockIsHeldFromInitializeUntilRegistrationEnds) {
    auto first = std::make_unique<CInstanceHandler>();
    ASSERT_TRUE(first->Initialize("Tool"));
    EXPECT_EQ(first->GetMappingName(), "InstanceHandler_for_tool");
    EXPECT_TRUE(StartupLockHeld("tool"));
    EXPECT_FALSE(first->IsAnotherInstanceRunning());
    EXPECT_TRUE(first->RegisterInstance());
    EXPECT_FALSE(StartupLockHeld("tool"));
    EXPECT_TRUE(RecordHeld("tool"));

    // A copy that cannot register must not keep the start-up lock: later copies would wait on it
    // for as long as this one runs.
    CInstanceHandler second;
    ASSERT_TRUE(second.Initialize("tool"));
    EXPECT_TRUE(second.IsAnotherInstanceRunning());
    EXPECT_FALSE(second.RegisterInstance());
    EXPECT_FALSE(second.IsRegistered());
    EXPECT_FALSE(StartupLockHeld("tool"));

    // The first copy's end takes its record along; the next copy runs.
    first.reset();
    EXPECT_FALSE(fs::exists(RecordPath("tool")));
    CInstanceHandler third;
    ASSERT_TRUE(third.Initialize("TOOL"));
    EXPECT_FALSE(third.IsAnotherInstanceRunning());
    EXPECT_TRUE(third.RegisterInstance());
}

TEST_F(InstanceHandlerTest, ActivationReachesOnlyALiveSocket) {
    CInstanceHandler first;
    ASSERT_TRUE(first.Initialize("tool"));
    ASSERT_TRUE(first.RegisterInstance());

    CInstanceHandler second;
    ASSERT_TRUE(second.Initialize("tool"));
    ASSERT_TRUE(second.IsAnotherInstanceRunning());
    EXPECT_TRUE(second.ActivateOtherInstance());

    // The record names the socket; once that is gone the request reaches nobody.
    const auto record = platform::InstanceLock::ReadContent(RecordPath("tool"), 4096);
    ASSERT_TRUE(record);
    const std::string socketPath = record->substr(0, record->find('\n'));
    ASSERT_TRUE(fs::exists(socketPath)) << *record;
    fs::remove(socketPath);
    EXPECT_FALSE(second.ActivateOtherInstance());
}

// One program under differently written names is one instance; names that only look alike after
// making them into file names are not.
struct NameCase {
    const char* label;
    std::string name;
    std::string sameProgram;
    std::string otherProgram;
};

TEST_F(InstanceHandlerTest, NamesDecideWhichCopiesExcludeEachOther) {
    const std::string longName(300, 'x');
    const std::vector<NameCase> cases = {
        {"case differs", "Tool", "TOOL", "Tool2"},
        {"non-ASCII case differs", "\xC3\x84rger", "\xC3\xA4RGER", "Arger"},
        {"slash and its escape", "a/b", "A/B", "a%2Fb"},
        {"invalid UTF-8 kept apart", "T\xFF", "t\xFF", "T\xFE"},
        {"too long for a file name", longName + "1", "X" + longName.substr(1) + "1",
         longName + "2"},
    };
    for (const NameCase& row : cases) {
        SCOPED_TRACE(row.label);
        CInstanceHandler first;
        ASSERT_TRUE(first.Initialize(row.name));
        ASSERT_TRUE(first.RegisterInstance());

        CInstanceHandler same;
        ASSERT_TRUE(same.Initialize(row.sameProgram));
        EXPECT_TRUE(same.IsAnotherInstanceRunning());
        EXPECT_TRUE(same.ActivateOtherInstance());
        EXPECT_FALSE(same.RegisterInstance());

        CInstanceHandler other;
        ASSERT_TRUE(other.Initialize(row.otherProgram));
        EXPECT_FALSE(other.IsAnotherInstanceRunning());
        EXPECT_TRUE(other.RegisterInstance());
    }
}

// A runtime folder that someone else could reach into is refused: its locks and socket would be
// theirs to hold or answer.
enum class Tampering { SymbolicLink, OpenToOthers, OwnedByAnotherUser };

const char* TamperingName(Tampering tampering) {
    switch (tampering) {
    case Tampering::SymbolicLink:
        return "SymbolicLink";
    case Tampering::OpenToOthers:
        return "OpenToOthers";
    case Tampering::OwnedByAnotherUser:
        return "OwnedByAnotherUser";
    }
    return "Unknown";
}

void PrintTo(Tampering tampering, std::ostream* out) {
    *out << TamperingName(tampering);
}

class UnsafeRuntimeFolderTest : public ::testing::TestWithParam<Tampering> {
  protected:
    RuntimeFolder m_folder;
    ScopedEnvironment m_runtime{"XDG_RUNTIME_DIR", m_folder.Base()};
};

TEST_P(UnsafeRuntimeFolderTest, InitializeRefusesIt) {
    const fs::path guard = m_folder.Guard();
    switch (GetParam()) {
    case Tampering::SymbolicLink: {
        const fs::path elsewhere = m_folder.Temp() / "elsewhere";
        fs::create_directory(elsewhere);
        fs::permissions(elsewhere, fs::perms::owner_all, fs::perm_options::replace);
        fs::create_directory_symlink(elsewhere, guard);
        break;
    }
    case Tampering::OpenToOthers:
        fs::create_directory(guard);
        fs::permissions(guard, fs::perms::all, fs::perm_options::replace);
        break;
    case Tampering::OwnedByAnotherUser:
        if (geteuid() != 0)
            GTEST_SKIP() << "handing a folder to another user needs root; run the tests as root";
        fs::create_directory(guard);
        fs::permissions(guard, fs::perms::owner_all, fs::perm_options::replace);
        ASSERT_EQ(chown(guard.c_str(), 65534, 65534), 0) << std::strerror(errno);
        break;
    }
    CInstanceHandler handler;
    EXPECT_FALSE(handler.Initialize("tool"));
    EXPECT_FALSE(handler.IsAnotherInstanceRunning());
    EXPECT_FALSE(handler.RegisterInstance());
    EXPECT_FALSE(fs::exists(guard / "tool.lock"));
}

INSTANTIATE_TEST_SUITE_P(Tampered, UnsafeRuntimeFolderTest,
                         ::testing::Values(Tampering::SymbolicLink, Tampering::OpenToOthers,
                                           Tampering::OwnedByAnotherUser),
                         [](const ::testing::TestParamInfo<Tampering>& info) {
                             return std::string(TamperingName(info.param));
                         });

// ---------------------------------------------------------------------------------------------
// Real copies: the probe program runs the guard in start-up order and reports in lines.

long long MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// One started probe with its standard output and error read through a pipe. The destructor kills
// a probe that still runs.
class ProbeProcess {
  public:
    ProbeProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& environment) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        std::vector<std::string> argvText = {program};
        argvText.insert(argvText.end(), args.begin(), args.end());
        std::vector<char*> argv = Pointers(argvText);
        std::vector<std::string> envText = environment;
        std::vector<char*> envp = Pointers(envText);
        const int rc =
            posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_out = fds[0];
        if (rc != 0)
            throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }
    ~ProbeProcess() {
        if (!m_exitCode) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
    }
    ProbeProcess(const ProbeProcess&) = delete;
    ProbeProcess& operator=(const ProbeProcess&) = delete;

    // The first line starting with one of `prefixes` (searching all output so far, then waiting
    // for more); empty when none comes in time or the probe closes its output.
    std::optional<std::string> WaitForLine(const std::vector<std::string>& prefixes,
                                           int timeoutMs = kStepTimeoutMs) {
        const long long deadline = MonotonicMs() + timeoutMs;
        for (;;) {
            if (auto line = FindLine(prefixes))
                return line;
            const long long left = deadline - MonotonicMs();
            if (left <= 0 || !ReadMore(static_cast<int>(left)))
                return FindLine(prefixes);
        }
    }

    // Position of the first line with `prefix` among the lines so far; -1 when there is none.
    int LineIndex(const std::string& prefix) const {
        const auto lines = Lines();
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind(prefix, 0) == 0)
                return static_cast<int>(i);
        return -1;
    }

    // Exit code, or minus the number of the signal that ended it; empty when it still runs.
    std::optional<int> WaitForExit(int timeoutMs = kStepTimeoutMs) {
        const long long deadline = MonotonicMs() + timeoutMs;
        while (!m_exitCode) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid)
                m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            else if (MonotonicMs() >= deadline)
                break;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return m_exitCode;
    }

    void Signal(int number) const { kill(m_pid, number); }
    const std::string& Output() const { return m_output; }

  private:
    static std::vector<char*> Pointers(std::vector<std::string>& texts) {
        std::vector<char*> pointers;
        for (std::string& text : texts)
            pointers.push_back(text.data());
        pointers.push_back(nullptr);
        return pointers;
    }

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = m_output.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(m_output.substr(start, end - start));
        return lines;
    }

    std::optional<std::string> FindLine(const std::vector<std::string>& prefixes) const {
        for (const std::string& line : Lines())
            for (const std::string& prefix : prefixes)
                if (line.rfind(prefix, 0) == 0)
                    return line;
        return std::nullopt;
    }

    bool ReadMore(int timeoutMs) {
        pollfd entry{m_out, POLLIN, 0};
        if (poll(&entry, 1, timeoutMs) <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = read(m_out, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        m_output.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_output;
    std::optional<int> m_exitCode;
};

class InstanceGuardProcessTest : public ::testing::Test {
  protected:
    std::unique_ptr<ProbeProcess> Start(const std::vector<std::string>& args = {}) {
        return StartProgram(QARN_INSTANCE_PROBE, args);
    }

    std::unique_ptr<ProbeProcess> StartProgram(const std::string& program,
                                               const std::vector<std::string>& args = {}) {
        return std::make_unique<ProbeProcess>(program, args, Environment());
    }

    // A copy of the probe under another file name in a folder of its own: "a/Tool".
    std::string CopyProbe(const std::string& folder, const std::string& name) const {
        const fs::path target = m_folder.Temp() / folder / name;
        fs::create_directories(target.parent_path());
        fs::copy_file(QARN_INSTANCE_PROBE, target);
        fs::permissions(target, fs::perms::owner_all, fs::perm_options::replace);
        return target;
    }

    fs::path RecordPath(const std::string& instance) const {
        return m_folder.Guard() / ("InstanceHandler_for_" + instance);
    }

    RuntimeFolder m_folder;

  private:
    std::vector<std::string> Environment() const {
        std::vector<std::string> variables;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            if (text.rfind("XDG_RUNTIME_DIR=", 0) != 0 && text.rfind("QT_QPA_PLATFORM=", 0) != 0)
                variables.push_back(text);
        }
        variables.push_back("XDG_RUNTIME_DIR=" + m_folder.Base().string());
        variables.push_back("QT_QPA_PLATFORM=offscreen");
        return variables;
    }
};

// Exactly one copy of several that start at the same moment runs; each of the others waits for
// its registration, finds it, reaches it and ends.
TEST_F(InstanceGuardProcessTest, CopiesStartedTogetherLeaveExactlyOneRunning) {
    constexpr int kRounds = 4;
    constexpr int kCopies = 3;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Far enough ahead for every copy to have its Qt start-up behind it.
        const std::string startAt = std::to_string(MonotonicMs() + 400);
        std::vector<std::unique_ptr<ProbeProcess>> copies;
        for (int i = 0; i < kCopies; ++i)
            copies.push_back(Start({"--start-at", startAt}));

        ProbeProcess* runner = nullptr;
        for (const auto& copy : copies) {
            const auto verdict = copy->WaitForLine({"registered", "unregistered", "another"});
            ASSERT_TRUE(verdict) << copy->Output();
            if (*verdict == "registered") {
                EXPECT_EQ(runner, nullptr) << "a second copy registered";
                runner = copy.get();
            } else {
                EXPECT_EQ(*verdict, "another-running reached=1") << copy->Output();
                EXPECT_EQ(copy->WaitForExit(), 0) << copy->Output();
            }
        }
        ASSERT_NE(runner, nullptr);
        EXPECT_TRUE(runner->WaitForLine({"activated"})) << runner->Output();
        runner->Signal(SIGTERM);
        EXPECT_EQ(runner->WaitForExit(), 0) << runner->Output();
        EXPECT_FALSE(fs::exists(RecordPath("instance_probe")));
    }
}

// A second start brings the first copy's window forward: restored from minimised or shown from
// hidden, and active. A request that comes before the window is handed over waits for it.
struct ForwardCase {
    const char* label;
    std::vector<std::string> firstArgs;
    const char* firstShown;
    bool handOverLater;
};

TEST_F(InstanceGuardProcessTest, SecondStartBringsTheFirstWindowForward) {
    const std::vector<ForwardCase> cases = {
        {"minimised window, handed over at once",
         {"--minimized"},
         "shown minimized=1 visible=1",
         false},
        {"hidden window, handed over after the request",
         {"--hidden", "--hand-over-on-signal"},
         "shown minimized=0 visible=0",
         true},
    };
    for (const ForwardCase& row : cases) {
        SCOPED_TRACE(row.label);
        const auto first = Start(row.firstArgs);
        ASSERT_TRUE(first->WaitForLine({"registered"})) << first->Output();
        EXPECT_EQ(first->WaitForLine({"shown"}), row.firstShown);

        const auto second = Start();
        EXPECT_EQ(second->WaitForLine({"another"}), "another-running reached=1")
            << second->Output();
        EXPECT_EQ(second->WaitForExit(), 0) << second->Output();
        EXPECT_EQ(second->LineIndex("shown"), -1) << "the second copy made a window";

        if (row.handOverLater)
            first->Signal(SIGUSR1);
        const auto activated = first->WaitForLine({"activated"});
        ASSERT_TRUE(activated) << first->Output();
        EXPECT_THAT(*activated, HasSubstr("minimized=0"));
        EXPECT_THAT(*activated, HasSubstr("visible=1"));
        EXPECT_THAT(*activated, HasSubstr("active=1"));
        EXPECT_LT(first->LineIndex("handed-over"), first->LineIndex("activated"))
            << first->Output();
        first->Signal(SIGTERM);
        EXPECT_EQ(first->WaitForExit(), 0) << first->Output();
    }
}

// A copy that crashed leaves its record and socket files, held by nobody: the next start runs,
// takes both over and can itself be brought forward.
TEST_F(InstanceGuardProcessTest, CopyAfterACrashRunsAndTakesOver) {
    const auto crashed = Start();
    ASSERT_TRUE(crashed->WaitForLine({"handed-over"})) << crashed->Output();
    crashed->Signal(SIGKILL);
    ASSERT_EQ(crashed->WaitForExit(), -SIGKILL);
    ASSERT_TRUE(fs::exists(RecordPath("instance_probe")));

    const auto next = Start();
    EXPECT_TRUE(next->WaitForLine({"registered"})) << next->Output();
    ASSERT_TRUE(next->WaitForLine({"handed-over"})) << next->Output();

    const auto third = Start();
    EXPECT_EQ(third->WaitForLine({"another"}), "another-running reached=1") << third->Output();
    EXPECT_TRUE(next->WaitForLine({"activated"})) << next->Output();
}

// Program files whose names differ only in case, in different folders, are one program; another
// name is another program.
TEST_F(InstanceGuardProcessTest, ProgramNamesDifferingInCaseExcludeEachOther) {
    const std::string tool = CopyProbe("a", "Tool");
    const std::string upper = CopyProbe("b", "TOOL");
    const std::string tool2 = CopyProbe("c", "Tool2");

    const auto first = StartProgram(tool);
    ASSERT_TRUE(first->WaitForLine({"registered"})) << first->Output();

    const auto second = StartProgram(upper);
    EXPECT_EQ(second->WaitForLine({"another"}), "another-running reached=1") << second->Output();
    EXPECT_TRUE(first->WaitForLine({"activated"})) << first->Output();

    const auto beside = StartProgram(tool2);
    EXPECT_TRUE(beside->WaitForLine({"registered"})) << beside->Output();
    EXPECT_TRUE(fs::exists(RecordPath("tool")));
    EXPECT_TRUE(fs::exists(RecordPath("tool2")));
}

} // namespace
} // namespace qarn
