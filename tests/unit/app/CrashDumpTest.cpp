#include "app/CrashDumpHandler.h"
#include "diag/DiagnosticsConfiguration.h"
#include "diag/DiagnosticsValue.h"
#include "platform/CoreDump.h"
#include "platform/Registry.h"
#include "support/RawDiagnostics.h"
#include "support/TempDir.h"

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <regex>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Contains(const std::vector<uint8_t>& bytes, const std::string& text) {
    const auto same = [](uint8_t byte, char c) { return byte == static_cast<uint8_t>(c); };
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end(), same) != bytes.end();
}

uint64_t Le(const std::vector<uint8_t>& bytes, size_t at, int size) {
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | bytes.at(at + static_cast<size_t>(i));
    return value;
}

// An ELF core read back field by field: enough to check what gdb relies on.
struct CoreFile {
    struct Segment {
        uint32_t type = 0;
        uint64_t offset = 0;
        uint64_t address = 0;
        uint64_t fileSize = 0;
        uint64_t memorySize = 0;
    };
    struct Note {
        std::string name;
        uint32_t type = 0;
        std::vector<uint8_t> description;
    };

    explicit CoreFile(const std::string& path) : bytes(ReadFileBytes(path)) {
        if (bytes.size() < 64 || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0)
            return;
        type = static_cast<uint16_t>(Le(bytes, 16, 2));
        machine = static_cast<uint16_t>(Le(bytes, 18, 2));
        const uint64_t headers = Le(bytes, 32, 8);
        const uint64_t count = Le(bytes, 56, 2);
        for (uint64_t i = 0; i < count; ++i) {
            const size_t at = headers + i * 56;
            segments.push_back({static_cast<uint32_t>(Le(bytes, at, 4)), Le(bytes, at + 8, 8),
                                Le(bytes, at + 16, 8), Le(bytes, at + 32, 8),
                                Le(bytes, at + 40, 8)});
        }
        for (const Segment& s : segments)
            if (s.type == PT_NOTE)
                ReadNotes(s.offset, s.offset + s.fileSize);
    }

    const Note* FindNote(uint32_t noteType) const {
        for (const Note& n : notes)
            if (n.type == noteType)
                return &n;
        return nullptr;
    }

    // The bytes at `address` when a segment carries them.
    std::optional<std::vector<uint8_t>> Memory(uint64_t address, size_t size) const {
        for (const Segment& s : segments) {
            if (s.type == PT_LOAD && address >= s.address &&
                address + size <= s.address + s.fileSize) {
                const size_t at = s.offset + (address - s.address);
                return std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + size);
            }
        }
        return std::nullopt;
    }

    std::vector<uint8_t> bytes;
    uint16_t type = 0;
    uint16_t machine = 0;
    std::vector<Segment> segments;
    std::vector<Note> notes;

  private:
    void ReadNotes(size_t at, size_t end) {
        while (at + 12 <= end) {
            const uint64_t nameSize = Le(bytes, at, 4);
            const uint64_t descriptionSize = Le(bytes, at + 4, 4);
            Note note;
            note.type = static_cast<uint32_t>(Le(bytes, at + 8, 4));
            at += 12;
            note.name.assign(reinterpret_cast<const char*>(bytes.data() + at),
                             nameSize > 0 ? nameSize - 1 : 0);
            at += (nameSize + 3) & ~uint64_t{3};
            note.description.assign(bytes.begin() + at, bytes.begin() + at + descriptionSize);
            at += (descriptionSize + 3) & ~uint64_t{3};
            notes.push_back(note);
        }
    }
};

std::string OwnExecutable() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

// ---- The file name and the stored settings.

TEST(CrashDumpFileName, IsFolderProgramNameTickAndExtension) {
    struct Row {
        const char* name;
        const char* folder;
        const char* module;
        uint32_t tick;
        size_t capacity;
        const char* expected; // null: refused
    };
    const Row rows[] = {
        {"folder", "/var/crash", "/usr/bin/tool", 5234781, 4096, "/var/crash/tool.5234781.mdmp"},
        {"no folder: beside the program", "", "/usr/bin/tool", 7, 4096, "/usr/bin/tool.7.mdmp"},
        {"extension kept, unsigned tick", "/d", "/p/x.bin", 4294967295u, 4096,
         "/d/x.bin.4294967295.mdmp"},
        {"tick zero", "/d", "/p/x", 0, 4096, "/d/x.0.mdmp"},
        {"exact fit", "/d", "/p/x", 12, 13, "/d/x.12.mdmp"},
        {"one byte short", "/d", "/p/x", 12, 12, nullptr},
        {"program path without folder part", "/d", "tool", 1, 4096, nullptr},
        {"no program path", "/d", "", 1, 4096, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<char> out(row.capacity, 'X');
        const bool formatted = FormatCrashDumpFileName(out, row.folder, row.module, row.tick);
        ASSERT_EQ(formatted, row.expected != nullptr);
        if (formatted) {
            EXPECT_STREQ(out.data(), row.expected);
        }
    }
}

TEST(CrashDumpSettings, StoreKeepsFolderUpTo4095BytesOnlyWhenDumpsAreOn) {
    const std::string longest(kMaxCrashDumpFolderLength, 'a');
    struct Row {
        const char* name;
        bool enabled;
        int32_t type;
        std::string folder;
        bool install;
        std::string stored;
    };
    const Row rows[] = {
        {"on", true, 1, "/var/crash", true, "/var/crash"},
        {"4095 bytes kept whole", true, 2, longest, true, longest},
        {"4096 bytes cut", true, 2, longest + "b", true, longest},
        {"cut before a character that does not fit", true, 2, longest.substr(1) + "\xC3\xA9", true,
         longest.substr(1)},
        {"off", false, 2, "/var/crash", false, ""},
        {"type 0", true, 0, "/var/crash", false, ""},
        {"no folder", true, 1, "", false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DiagnosticsConfiguration earlier;
        earlier.dumpEnabled = true;
        earlier.dumpType = 1;
        earlier.dumpFolder = "/earlier";
        ASSERT_TRUE(StoreCrashDumpSettings(earlier));

        DiagnosticsConfiguration settings;
        settings.dumpEnabled = row.enabled;
        settings.dumpType = row.type;
        settings.dumpFolder = row.folder;
        EXPECT_EQ(StoreCrashDumpSettings(settings), row.install);
        EXPECT_EQ(StoredCrashDumpFolder(), row.stored); // the earlier folder is gone in any case
        EXPECT_EQ(StoredCrashDumpType(), row.type);
    }
}

// ---- The core writer, in this process, from a context of getcontext.

class CoreWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
#if !defined(__x86_64__)
        GTEST_SKIP() << "the core writer supports x86_64 only";
#endif
    }

    test::TempDir m_temp{"qarn-core"};
    std::string m_path = m_temp / "self.mdmp";
};

TEST_F(CoreWriterTest, ThreadDumpHoldsRegistersModulesAndStackButNotOtherMemory) {
    const std::string stackText = "stack marker " + std::to_string(getpid());
    volatile char stackMarker[64] = {};
    for (size_t i = 0; i < stackText.size(); ++i)
        stackMarker[i] = stackText[i];
    const std::string anonymousText = "anonymous marker " + std::to_string(getpid());
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* anonymous =
        mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(anonymous, MAP_FAILED);
    std::memcpy(anonymous, anonymousText.c_str(), anonymousText.size() + 1);

    ucontext_t context;
    ASSERT_EQ(getcontext(&context), 0);
    ASSERT_TRUE(platform::WriteCoreDumpFile(
        m_path.c_str(), platform::CoreDumpKind::ThreadAndModules, {SIGSEGV, nullptr, &context}));
    const CoreFile core(m_path);
    const auto anonymousAddress = reinterpret_cast<uintptr_t>(anonymous);
    munmap(anonymous, page);

    EXPECT_EQ(core.type, ET_CORE);
    EXPECT_EQ(core.machine, EM_X86_64);
    ASSERT_FALSE(core.segments.empty());
    EXPECT_EQ(core.segments.front().type, static_cast<uint32_t>(PT_NOTE));
    uint64_t previousEnd = 0;
    uint64_t fileEnd = 0;
    for (const CoreFile::Segment& s : core.segments) {
        if (s.type != PT_LOAD)
            continue;
        EXPECT_GE(s.address, previousEnd) << "segments overlap or are out of order";
        EXPECT_EQ(s.offset % page, 0u);
        EXPECT_TRUE(s.fileSize == 0 || s.fileSize == s.memorySize);
        previousEnd = s.address + s.memorySize;
        fileEnd = std::max(fileEnd, s.offset + s.fileSize);
    }
    EXPECT_EQ(core.bytes.size(), fileEnd);

    const CoreFile::Note* status = core.FindNote(NT_PRSTATUS);
    ASSERT_NE(status, nullptr);
    ASSERT_EQ(status->description.size(), 336u);
    EXPECT_EQ(Le(status->description, 0, 4), static_cast<uint64_t>(SIGSEGV));
    EXPECT_EQ(Le(status->description, 32, 4), static_cast<uint64_t>(syscall(SYS_gettid)));
    constexpr size_t kRegisters = 112; // rip is word 16, rsp word 19
    EXPECT_EQ(Le(status->description, kRegisters + 16 * 8, 8),
              static_cast<uint64_t>(context.uc_mcontext.gregs[REG_RIP]));
    EXPECT_EQ(Le(status->description, kRegisters + 19 * 8, 8),
              static_cast<uint64_t>(context.uc_mcontext.gregs[REG_RSP]));

    const CoreFile::Note* files = core.FindNote(NT_FILE);
    ASSERT_NE(files, nullptr);
    EXPECT_TRUE(Contains(files->description, OwnExecutable() + '\0'));
    const CoreFile::Note* auxv = core.FindNote(NT_AUXV);
    ASSERT_NE(auxv, nullptr);
    EXPECT_EQ(auxv->description, ReadFileBytes("/proc/self/auxv"));
    EXPECT_NE(core.FindNote(NT_PRPSINFO), nullptr);

    const auto onStack =
        core.Memory(reinterpret_cast<uintptr_t>(&stackMarker[0]), stackText.size());
    ASSERT_TRUE(onStack.has_value()) << "the live stack is missing";
    EXPECT_EQ(std::string(onStack->begin(), onStack->end()), stackText);
    EXPECT_FALSE(core.Memory(anonymousAddress, anonymousText.size()).has_value());
    EXPECT_FALSE(Contains(core.bytes, anonymousText));
}

// A dump holds any secret of the process: it is written only into a file the writer makes
// itself. Whatever another user put at the name beforehand (a file of theirs to read the dump
// from, a link, a FIFO that would hang the crashing process) stays as it is; the dump takes the
// next free name.
TEST_F(CoreWriterTest, ADumpGoesOnlyIntoAFileOfItsOwn) {
    const std::string victim = m_temp / "victim";
    std::ofstream(victim) << "keep";
    const std::string folder = (m_temp / "dumps").string();
    std::filesystem::create_directories(folder);
    const auto named = [&](uint32_t tick) {
        return folder + "/tool." + std::to_string(tick) + ".mdmp";
    };
    std::ofstream(named(100)) << "prepared by someone else";
    std::filesystem::create_symlink(victim, named(101));
    ASSERT_EQ(mkfifo(named(102).c_str(), 0666), 0);

    ucontext_t context;
    ASSERT_EQ(getcontext(&context), 0);
    char name[512];
    ASSERT_TRUE(WriteCrashDumpToFreshFile(name, folder.c_str(), "/usr/bin/tool", 100,
                                          platform::CoreDumpKind::ThreadAndModules,
                                          {SIGABRT, nullptr, &context}));
    EXPECT_EQ(std::string(name), named(103));
    EXPECT_EQ(CoreFile(named(103)).type, ET_CORE);
    EXPECT_EQ(std::filesystem::status(named(103)).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(ReadFileBytes(named(100)).size(), std::string("prepared by someone else").size());
    EXPECT_EQ(ReadFileBytes(victim), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));

    for (uint32_t n = 0; n < kCrashDumpNameTries; ++n)
        std::ofstream(named(200 + n)) << "";
    EXPECT_FALSE(WriteCrashDumpToFreshFile(name, folder.c_str(), "/usr/bin/tool", 200,
                                           platform::CoreDumpKind::ThreadAndModules,
                                           {SIGABRT, nullptr, &context}))
        << "a bounded search: every name taken";
}

// ---- Real crashes of the probe program.

struct ProbeRun {
    bool signaled = false;
    int signal = 0;
    int exitCode = -1;
    std::string output;
};

// Runs the probe in `folder` without the system's own core dump, so the machine keeps no
// leftovers of these crashes.
ProbeRun RunProbe(const std::vector<std::string>& arguments, const std::string& folder) {
    std::vector<std::string> all{QARN_CRASH_PROBE};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeEnds[2];
    ProbeRun run;
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        if (chdir(folder.c_str()) == 0)
            execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    char buffer[256];
    ssize_t n = 0;
    while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        run.output.append(buffer, static_cast<size_t>(n));
    close(pipeEnds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return run;
    run.signaled = WIFSIGNALED(status);
    run.signal = run.signaled ? WTERMSIG(status) : 0;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::vector<std::string> DumpFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    return names;
}

bool HaveGdb() {
    return std::system("command -v gdb >/dev/null 2>&1") == 0;
}

std::string GdbBacktrace(const std::string& dump) {
    const std::string command = "timeout 120 gdb -nx -batch -iex 'set debuginfod enabled off' "
                                "-ex 'bt 12' '" QARN_CRASH_PROBE "' '" +
                                dump + "' 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

class CrashProbeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (kSanitized)
            GTEST_SKIP() << "a sanitizer owns the fatal signals; run the crash tests in a build "
                            "without QARN_SANITIZE";
        std::filesystem::create_directories(m_dumps);
    }

    DiagnosticsConfiguration Settings(bool enabled, int32_t type, const std::string& folder) const {
        DiagnosticsConfiguration settings;
        settings.dumpEnabled = enabled;
        settings.dumpType = type;
        settings.dumpFolder = folder;
        return settings;
    }

    // The marker goes to the probe reversed; only the probe's heap holds it the right way round.
    static std::string Reversed(std::string text) {
        std::reverse(text.begin(), text.end());
        return text;
    }

    test::TempDir m_temp{"qarn-crash"};
    test::ScopedRegistryRoot m_store{m_temp};
    std::string m_dumps = m_temp / "dumps";
    std::string m_marker = "heap marker of the crash probe " + std::to_string(getpid());
};

struct CrashCase {
    const char* how;
    int signal;
    const char* signalName;
    const char* frame;    // a function of the probe that gdb must show in the backtrace
    const char* topFrame; // the one it must show on top, where that is the probe's
};

void PrintTo(const CrashCase& crash, std::ostream* out) {
    *out << crash.how;
}

class CrashProbeDumpTest : public CrashProbeTest,
                           public ::testing::WithParamInterface<CrashCase> {};

TEST_P(CrashProbeDumpTest, BothKindsNameTheCrashAndOnlyFullMemoryHoldsTheHeap) {
    const CrashCase& crash = GetParam();
    const std::regex dumpName(R"(crash_probe\.\d+\.mdmp)");
    std::vector<uint8_t> dumps[2];
    for (const int type : {1, 2}) {
        SCOPED_TRACE("dump type " + std::to_string(type));
        std::filesystem::remove_all(m_dumps);
        std::filesystem::create_directories(m_dumps);
        std::string error;
        ASSERT_TRUE(WriteDiagnosticsValue(Settings(true, type, m_dumps), &error)) << error;

        const ProbeRun run = RunProbe({crash.how, Reversed(m_marker)}, m_temp.Path());
        EXPECT_EQ(run.output, "install 0 1\n");
        EXPECT_TRUE(run.signaled);
        EXPECT_EQ(run.signal, crash.signal);
        const std::vector<std::string> files = DumpFiles(m_dumps);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_TRUE(std::regex_match(files[0], dumpName)) << files[0];
        const std::string dump = m_dumps + "/" + files[0];
        const CoreFile core(dump);
        EXPECT_EQ(core.type, ET_CORE);
        dumps[type - 1] = core.bytes;
        EXPECT_EQ(Contains(core.bytes, m_marker), type == 2);

        if (!HaveGdb())
            continue;
        const std::string backtrace = GdbBacktrace(dump);
        EXPECT_NE(backtrace.find(std::string("Program terminated with signal ") + crash.signalName),
                  std::string::npos)
            << backtrace;
        const std::regex frame(std::string(R"(#\d+ .*)") + crash.frame + R"( \()");
        EXPECT_TRUE(std::regex_search(backtrace, frame)) << backtrace;
        if (crash.topFrame != nullptr) {
            const std::regex top(std::string("#0 .*") + crash.topFrame);
            EXPECT_TRUE(std::regex_search(backtrace, top)) << backtrace;
        }
    }
    EXPECT_GT(dumps[1].size(), dumps[0].size());
    if (!HaveGdb())
        GTEST_SKIP() << "gdb is not installed (scripts/bootstrap installs it): the backtraces "
                        "were not checked";
}

INSTANTIATE_TEST_SUITE_P(
    Crashes, CrashProbeDumpTest,
    ::testing::Values(
        CrashCase{"segv", SIGSEGV, "SIGSEGV", "CrashProbeNullWrite", "CrashProbeNullWrite"},
        CrashCase{"abort", SIGABRT, "SIGABRT", "CrashProbeAbort", nullptr},
        // the faulting thread is not the one that installed the handler
        CrashCase{"thread", SIGSEGV, "SIGSEGV", "CrashProbeWorker", "CrashProbeNullWrite"},
        // only the alternate stack leaves room to write the dump
        CrashCase{"overflow", SIGSEGV, "SIGSEGV", "CrashProbeRecurse", "CrashProbeRecurse"},
        // the same on a worker started after the handler was installed
        CrashCase{"worker-overflow", SIGSEGV, "SIGSEGV", "CrashProbeRecurse", "CrashProbeRecurse"}),
    [](const ::testing::TestParamInfo<CrashCase>& info) {
        std::string name = info.param.how;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST_F(CrashProbeTest, WithoutUsableSettingsOrFolderNoDumpAndTheSignalStillEndsTheProbe) {
    const std::string missing = m_temp / "missing";
    struct Row {
        const char* name;
        DiagnosticsConfiguration settings;
        bool removeFolder; // the folder goes after installation, before the crash
        const char* installs;
    };
    const Row rows[] = {
        {"dumps off", Settings(false, 2, m_dumps), false, "install 0 0\n"},
        {"dump type 3", Settings(true, 3, m_dumps), false, "install 0 0\n"},
        {"folder missing", Settings(true, 1, missing), false, "install 0 0\n"},
        {"folder removed before the crash", Settings(true, 2, m_dumps), true, "install 0 1\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::create_directories(m_dumps);
        ASSERT_TRUE(test::StoreRawDiagnostics(row.settings));
        std::vector<std::string> arguments{"segv", Reversed(m_marker)};
        if (row.removeFolder)
            arguments.push_back(m_dumps);
        const ProbeRun run = RunProbe(arguments, m_temp.Path());
        EXPECT_EQ(run.output, row.installs);
        EXPECT_TRUE(run.signaled);
        EXPECT_EQ(run.signal, SIGSEGV);
        EXPECT_TRUE(DumpFiles(m_dumps).empty());
        EXPECT_FALSE(std::filesystem::exists(missing));
        for (const std::string& name : DumpFiles(m_temp.Path()))
            EXPECT_EQ(name.find(".mdmp"), std::string::npos) << name;
    }
}

} // namespace
} // namespace qarn
