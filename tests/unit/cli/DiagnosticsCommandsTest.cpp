#include "cli/DiagnosticsCommands.h"

#include "diag/DiagnosticsValue.h"
#include "platform/Registry.h"
#include "support/TempDir.h"

#include <filesystem>
#include <sstream>
#include <unistd.h>

#include <gtest/gtest.h>

namespace qarn::cli {
namespace {

class DiagnosticsCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(m_logs);
        std::filesystem::create_directories(m_dumps);
    }

    // Stores raw bytes as the value, of any type, the way a damaged or foreign writer might.
    void StoreRaw(const std::vector<uint8_t>& bytes, uint32_t type = platform::kRegBinary) {
        const DiagnosticsConfiguration names;
        platform::RegKeyHandle key = nullptr;
        ASSERT_EQ(platform::RegistryCreateKey(platform::kHKeyLocalMachine, names.keyPath,
                                              platform::kKeyAllAccess, &key),
                  platform::kRegOk);
        EXPECT_EQ(platform::RegistrySetValue(key, names.valueName, type, bytes.data(),
                                             static_cast<uint32_t>(bytes.size())),
                  platform::kRegOk);
        platform::RegistryCloseKey(key);
    }

    // What the programs will read at their next start.
    DiagnosticsConfiguration Loaded(bool* valid) {
        DiagnosticsConfiguration settings;
        *valid = settings.Load();
        return settings;
    }

    int Set(const DiagnosticsChange& change) {
        m_out.str("");
        m_err.str("");
        return SetDiagnostics(change, m_out, m_err);
    }

    std::string Show() {
        std::ostringstream out, err;
        EXPECT_EQ(ShowDiagnostics(out, err), 0) << err.str();
        return out.str();
    }

    test::TempDir m_temp{"qarn-cli-diag"};
    test::ScopedRegistryRoot m_store{m_temp};
    std::string m_logs = (m_temp / "logs").string();
    std::string m_dumps = (m_temp / "dumps").string();
    std::ostringstream m_out;
    std::ostringstream m_err;
};

// In a folder every user may write, another user can plant links or files where the programs
// make theirs; the sticky bit prevents that. The settings are written all the same.
TEST_F(DiagnosticsCommandsTest, SetWarnsAboutAFolderEveryUserMayWriteWithoutTheStickyBit) {
    using std::filesystem::perms;
    const struct {
        const char* name;
        perms mode;
        bool warns;
    } cases[] = {
        {"writable by all", perms::all, true},
        {"writable by all, sticky", perms::all | perms::sticky_bit, false},
        {"writable by its owner", perms::owner_all | perms::group_read | perms::others_read, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::permissions(m_logs, c.mode);
        std::filesystem::permissions(m_dumps, c.mode);
        ASSERT_EQ(Set({.logLevel = 2, .logFolder = m_logs, .dumpType = 1, .dumpFolder = m_dumps}),
                  0);
        const std::string warning = "can be written by every user and has no sticky bit";
        const std::string err = m_err.str();
        EXPECT_EQ(err.find("warning: the log folder " + m_logs + " " + warning) !=
                      std::string::npos,
                  c.warns)
            << err;
        EXPECT_EQ(err.find("warning: the dump folder " + m_dumps + " " + warning) !=
                      std::string::npos,
                  c.warns)
            << err;
    }
    ASSERT_EQ(Set({.logLevel = 0}), 0);
    EXPECT_EQ(m_err.str().find("log folder"), std::string::npos) << "logging off: no warning";
}

TEST_F(DiagnosticsCommandsTest, SetWritesWhatTheProgramsReadAndKeepsWhatWasNotGiven) {
    EXPECT_EQ(Show(), "not set (logging and crash dumps off)\n");

    ASSERT_EQ(Set({.logLevel = 4, .logFolder = m_logs}), 0) << m_err.str();
    bool valid = false;
    DiagnosticsConfiguration loaded = Loaded(&valid);
    ASSERT_TRUE(valid);
    EXPECT_TRUE(loaded.logEnabled);
    EXPECT_EQ(loaded.logLevel, 4);
    EXPECT_EQ(loaded.logFolder, m_logs);
    EXPECT_FALSE(loaded.dumpEnabled);

    // Switching dumps on leaves the log settings as they were.
    ASSERT_EQ(Set({.dumpType = 2, .dumpFolder = m_dumps}), 0) << m_err.str();
    loaded = Loaded(&valid);
    ASSERT_TRUE(valid);
    EXPECT_TRUE(loaded.logEnabled);
    EXPECT_EQ(loaded.logLevel, 4);
    EXPECT_TRUE(loaded.dumpEnabled);
    EXPECT_EQ(loaded.dumpType, 2);
    EXPECT_EQ(Show(), "log:  on, level 4 (debug), folder " + m_logs +
                          "\ndump: on, type 2 (full memory), folder " + m_dumps + "\n");

    // Level 0 switches logging off; the folder stays for the next time it is switched on.
    ASSERT_EQ(Set({.logLevel = 0}), 0) << m_err.str();
    loaded = Loaded(&valid);
    ASSERT_TRUE(valid);
    EXPECT_FALSE(loaded.logEnabled);
    EXPECT_TRUE(loaded.dumpEnabled);
    ASSERT_EQ(Set({.logLevel = 2}), 0) << m_err.str();
    loaded = Loaded(&valid);
    EXPECT_TRUE(loaded.logEnabled);
    EXPECT_EQ(loaded.logFolder, m_logs);

    std::ostringstream out, err;
    ASSERT_EQ(ClearDiagnostics(out, err), 0);
    EXPECT_EQ(Show(), "not set (logging and crash dumps off)\n");
    EXPECT_EQ(ClearDiagnostics(out, err), 0) << "clearing twice is fine";
}

TEST_F(DiagnosticsCommandsTest, RefusesSettingsTheProgramsWouldReject) {
    ASSERT_EQ(Set({.logLevel = 3, .logFolder = m_logs}), 0);
    const std::vector<uint8_t> before = [] {
        DiagnosticsConfiguration settings;
        settings.Load();
        return BuildDiagnosticsValue(settings);
    }();

    const struct {
        const char* name;
        DiagnosticsChange change;
        const char* reason;
    } cases[] = {
        {"level above 4", {.logLevel = 5}, "log level 5 is not 1 to 4"},
        {"negative level", {.logLevel = -1}, "log level -1 is not 1 to 4"},
        {"missing log folder", {.logFolder = "/nonexistent/qarn"}, "does not exist"},
        {"empty log folder", {.logFolder = ""}, "log folder is empty"},
        {"dump type 3", {.dumpType = 3, .dumpFolder = "/"}, "dump type 3 is not 1 or 2"},
        {"dumps on without a folder", {.dumpType = 1}, "dump folder is empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Set(c.change), 1);
        const std::string err = m_err.str();
        EXPECT_NE(err.find(c.reason), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        DiagnosticsConfiguration now;
        ASSERT_TRUE(now.Load()) << "the stored value was changed";
        EXPECT_EQ(BuildDiagnosticsValue(now), before);
    }
    // A group that is switched off is not checked, as the programs do not check it.
    EXPECT_EQ(Set({.dumpType = 0, .dumpFolder = "/nonexistent"}), 0) << m_err.str();
}

TEST_F(DiagnosticsCommandsTest, RelativeFolderIsStoredAbsolute) {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(m_temp.Path());
    const int status = Set({.logLevel = 1, .logFolder = "logs"});
    std::filesystem::current_path(previous);
    ASSERT_EQ(status, 0) << m_err.str();
    bool valid = false;
    EXPECT_EQ(std::filesystem::path(Loaded(&valid).logFolder), m_temp / "logs");
    EXPECT_TRUE(valid);
}

TEST_F(DiagnosticsCommandsTest, ShowsWhyAStoredValueIsInvalid) {
    DiagnosticsConfiguration good;
    good.logEnabled = true;
    good.logLevel = 4;
    good.logFolder = m_logs;
    std::vector<uint8_t> value = BuildDiagnosticsValue(good);

    std::vector<uint8_t> longer = value;
    longer.push_back(0); // length field no longer counts every byte
    std::vector<uint8_t> cut(value.begin(), value.begin() + 12);
    cut[0] = 12;
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        uint32_t type;
        const char* shown;
    } cases[] = {
        {"length field", longer, platform::kRegBinary, "invalid: its length field says"},
        {"cut record", cut, platform::kRegBinary, "invalid: a field or folder record"},
        {"too short", {1, 2}, platform::kRegBinary, "invalid: the value has only 2 bytes"},
        {"not binary", value, platform::kRegSz, "invalid: the value is of type 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StoreRaw(c.bytes, c.type);
        const std::string shown = Show();
        EXPECT_EQ(shown.rfind(c.shown, 0), 0u) << shown;
    }

    // Valid layout, but the folder is gone: the reason, then what the value holds.
    std::filesystem::remove(m_logs);
    StoreRaw(value);
    const std::string shown = Show();
    EXPECT_NE(shown.find("invalid: log folder '" + m_logs + "' does not exist"), std::string::npos);
    EXPECT_NE(shown.find("log:  on, level 4 (debug)"), std::string::npos) << shown;
    // set starts from those settings: switching logging off makes the value valid again.
    ASSERT_EQ(Set({.logLevel = 0}), 0) << m_err.str();
    bool valid = false;
    Loaded(&valid);
    EXPECT_TRUE(valid);
}

TEST_F(DiagnosticsCommandsTest, SetOverABrokenValueStartsFromAllOff) {
    StoreRaw({0xFF, 0xFF, 0xFF});
    ASSERT_EQ(Set({.dumpType = 1, .dumpFolder = m_dumps}), 0) << m_err.str();
    bool valid = false;
    const DiagnosticsConfiguration loaded = Loaded(&valid);
    ASSERT_TRUE(valid);
    EXPECT_TRUE(loaded.dumpEnabled);
    EXPECT_FALSE(loaded.logEnabled);
}

TEST_F(DiagnosticsCommandsTest, UnreadableStoreFailsWithOneLine) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every folder; run as an ordinary user to check this";
    StoreRaw(BuildDiagnosticsValue(DiagnosticsConfiguration{}));
    const auto key = m_store.Root() / "HKLM" / "SOFTWARE" / "qarn" / "Diagnostics";
    std::filesystem::permissions(key, std::filesystem::perms::none);
    std::ostringstream out, err;
    EXPECT_EQ(ShowDiagnostics(out, err), 1);
    EXPECT_EQ(SetDiagnostics({.logLevel = 0}, out, err), 1);
    std::filesystem::permissions(key, std::filesystem::perms::owner_all);
    EXPECT_NE(err.str().find("qarn-converter-ctl: cannot"), std::string::npos) << err.str();
}

} // namespace
} // namespace qarn::cli
