#include "diag/DiagnosticsConfiguration.h"

#include "diag/DiagnosticsValue.h"
#include "platform/Registry.h"
#include "support/TempDir.h"

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// The six settings, to compare a parsed configuration with what a row expects.
struct Settings {
    bool dumpEnabled = false;
    int32_t dumpType = 0;
    std::string dumpFolder;
    bool logEnabled = false;
    int32_t logLevel = 0;
    std::string logFolder;
};

Settings Of(const DiagnosticsConfiguration& config) {
    return {config.dumpEnabled, config.dumpType, config.dumpFolder,
            config.logEnabled,  config.logLevel, config.logFolder};
}

void ExpectSame(const Settings& actual, const Settings& expected) {
    EXPECT_EQ(actual.dumpEnabled, expected.dumpEnabled);
    EXPECT_EQ(actual.dumpType, expected.dumpType);
    EXPECT_EQ(actual.dumpFolder, expected.dumpFolder);
    EXPECT_EQ(actual.logEnabled, expected.logEnabled);
    EXPECT_EQ(actual.logLevel, expected.logLevel);
    EXPECT_EQ(actual.logFolder, expected.logFolder);
}

void PutLe32(Bytes& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// A string record assembled by hand: byte count, then the code units as given (the caller
// decides about the NUL), so that broken records are as easy to write as good ones.
Bytes Record(uint32_t count, std::initializer_list<uint16_t> units) {
    Bytes out;
    PutLe32(out, count);
    for (const uint16_t unit : units) {
        out.push_back(static_cast<uint8_t>(unit));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return out;
}

// A well-formed record of an ASCII text: "ab" -> 06 00 00 00 61 00 62 00 00 00.
Bytes Record(const std::string& ascii) {
    Bytes out;
    PutLe32(out, static_cast<uint32_t>(2 * (ascii.size() + 1)));
    for (const char c : ascii) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

Bytes Concat(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// Everything after the length field.
Bytes Body(uint8_t dumpFlag, uint32_t dumpType, const Bytes& dumpRecord, uint8_t logFlag,
           uint32_t logLevel, const Bytes& logRecord, const Bytes& extra = {}) {
    Bytes out;
    out.push_back(dumpFlag);
    PutLe32(out, dumpType);
    out.insert(out.end(), dumpRecord.begin(), dumpRecord.end());
    out.push_back(logFlag);
    PutLe32(out, logLevel);
    out.insert(out.end(), logRecord.begin(), logRecord.end());
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

// The length field in front: by default the true size, else the one given.
Bytes Value(const Bytes& body, int64_t length = -1) {
    Bytes out;
    PutLe32(out,
            length >= 0 ? static_cast<uint32_t>(length) : static_cast<uint32_t>(body.size() + 4));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A private settings store and two folders: one that exists and one that does not.
class DiagnosticsTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directory(m_existing); }

    // Stores `bytes` as the diagnostics value with the given type, bypassing the writer.
    void StoreRaw(const Bytes& bytes, uint32_t type = platform::kRegBinary) {
        platform::RegKeyHandle key = nullptr;
        ASSERT_EQ(platform::RegistryCreateKey(platform::kHKeyLocalMachine,
                                              "SOFTWARE\\qarn\\Diagnostics", platform::kKeyWrite,
                                              &key),
                  platform::kRegOk);
        EXPECT_EQ(platform::RegistrySetValue(key, "Configuration", type, bytes.data(),
                                             static_cast<uint32_t>(bytes.size())),
                  platform::kRegOk);
        platform::RegistryCloseKey(key);
    }

    test::TempDir m_temp{"qarn-diag"};
    test::ScopedRegistryRoot m_store{m_temp};
    std::string m_existing = m_temp / "folder";
    std::string m_missing = m_temp / "missing";
};

TEST_F(DiagnosticsTest, ValueLayoutCases) {
    const Bytes none = Record("");
    const Bytes here = Record(m_existing);
    const Bytes gone = Record(m_missing);
    const Bytes allOff = Value(Body(0, 0, none, 0, 0, none));
    ASSERT_EQ(allOff.size(), 26u);
    Bytes thirtyOfThirtyOne = Value(Body(0, 0, none, 0, 0, none, {1, 2, 3, 4}));
    thirtyOfThirtyOne.push_back(5);

    const struct {
        const char* name;
        Bytes value;
        bool accepted;
        Settings expected; // checked only when accepted
    } rows[] = {
        {"all_off_26_bytes", allOff, true, {}},
        {"length_30_of_31_bytes", thirtyOfThirtyOne, false, {}},
        {"length_larger_than_value", Value(Body(0, 0, none, 0, 0, none), 27), false, {}},
        {"shorter_than_length_field", {4, 0, 0}, false, {}},
        {"extra_bytes_counted_by_length",
         Value(Body(1, 1, here, 0, 0, none, {9, 9, 9})),
         true,
         {true, 1, m_existing, false, 0, ""}},
        {"dump_full_memory_log_off",
         Value(Body(1, 2, here, 0, 0, none)),
         true,
         {true, 2, m_existing, false, 0, ""}},
        {"log_level_4_dump_folder_missing", Value(Body(1, 1, gone, 1, 4, here)), false, {}},
        {"log_on_dump_off_with_garbage",
         Value(Body(0, 77, gone, 1, 4, here)),
         true,
         {false, 77, m_missing, true, 4, m_existing}},
        {"any_nonzero_flag_is_on",
         Value(Body(0x80, 1, here, 0xFF, 1, here)),
         true,
         {true, 1, m_existing, true, 1, m_existing}},
        {"record_count_zero", Value(Body(0, 0, Record(0, {}), 0, 0, none)), false, {}},
        {"empty_folder_enabled_dump", Value(Body(1, 1, none, 0, 0, none)), false, {}},
        {"empty_folder_enabled_log", Value(Body(0, 0, none, 1, 1, none)), false, {}},
        {"dump_type_0", Value(Body(1, 0, here, 0, 0, none)), false, {}},
        {"dump_type_3", Value(Body(1, 3, here, 0, 0, none)), false, {}},
        {"log_level_0", Value(Body(0, 0, none, 1, 0, here)), false, {}},
        {"log_level_5", Value(Body(0, 0, none, 1, 5, here)), false, {}},
        {"log_level_negative", Value(Body(0, 0, none, 1, 0xFFFFFFFF, here)), false, {}},
        // 61 00 00 | 00 ...: the NUL code unit at index (3 - 1) / 2 = 1 would take its second
        // byte from the log flag after the record.
        {"odd_count_with_nul_past_the_record",
         Value(Body(0, 0, Concat(Record(3, {'a'}), {0}), 0, 0, none)),
         false,
         {}},
        {"odd_count_one", Value(Body(0, 0, Record(1, {0}), 0, 0, none)), false, {}},
        {"nul_before_the_end", Value(Body(0, 0, Record(6, {'a', 0, 0}), 0, 0, none)), false, {}},
        {"no_terminating_nul", Value(Body(0, 0, Record(4, {'a', 'b'}), 0, 0, none)), false, {}},
        {"count_past_the_value", Value(Body(0, 0, none, 0, 0, Record(40, {0}))), false, {}},
        {"count_huge", Value(Body(0, 0, Record(0xFFFFFFFE, {0}), 0, 0, none)), false, {}},
        {"non_ascii_and_surrogate_pair",
         Value(Body(0, 0, Record(8, {0x00C4, 0xD834, 0xDD1E, 0}), 0, 0, none)),
         true,
         {false, 0, "\xC3\x84\xF0\x9D\x84\x9E", false, 0, ""}},
        {"lone_surrogates_become_replacement_characters",
         Value(Body(0, 0, Record(8, {0xDC00, 'x', 0xD800, 0}), 0, 0, none)),
         true,
         {false, 0, "\xEF\xBF\xBDx\xEF\xBF\xBD", false, 0, ""}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DiagnosticsConfiguration config;
        EXPECT_EQ(config.Parse(row.value.data(), row.value.size()), row.accepted);
        if (row.accepted)
            ExpectSame(Of(config), row.expected);

        // The same bytes through the settings store give the same verdict.
        StoreRaw(row.value);
        DiagnosticsConfiguration loaded;
        EXPECT_EQ(loaded.Load(), row.accepted);
        if (row.accepted)
            ExpectSame(Of(loaded), row.expected);
    }
}

TEST_F(DiagnosticsTest, ATruncatedValueIsRejectedWhereverItIsCut) {
    const Bytes full = Value(Body(1, 2, Record(m_existing), 1, 3, Record(m_existing)));
    DiagnosticsConfiguration config;
    ASSERT_TRUE(config.Parse(full.data(), full.size()));
    for (size_t size = 0; size < full.size(); ++size) {
        SCOPED_TRACE("cut to " + std::to_string(size) + " bytes");
        // The length field is set to the cut size so that only the missing fields can fail.
        Bytes cut(full.begin(), full.begin() + static_cast<long>(size));
        for (size_t i = 0; i < 4 && i < size; ++i)
            cut[i] = static_cast<uint8_t>(size >> (8 * i));
        EXPECT_FALSE(config.ParseLayout(cut.data(), cut.size()));
        ExpectSame(Of(config), {}); // nothing half-read is left behind
    }
}

TEST_F(DiagnosticsTest, LoadFailsWithoutAUsableBinaryValue) {
    DiagnosticsConfiguration config;
    config.dumpEnabled = true;
    config.logLevel = 3;
    EXPECT_FALSE(config.Load()) << "no key at all";
    ExpectSame(Of(config), {});
    EXPECT_EQ(config.keyPath, "SOFTWARE\\qarn\\Diagnostics");
    EXPECT_EQ(config.valueName, "Configuration");

    const Bytes allOff = Value(Body(0, 0, Record(""), 0, 0, Record("")));
    StoreRaw(allOff, platform::kRegDword);
    EXPECT_FALSE(config.Load()) << "value of another type";
    StoreRaw({});
    EXPECT_FALSE(config.Load()) << "empty value";
    StoreRaw(allOff);
    EXPECT_TRUE(config.Load());
}

TEST_F(DiagnosticsTest, WriterOutputMatchesTheLayoutByteForByte) {
    DiagnosticsConfiguration config;
    EXPECT_EQ(BuildDiagnosticsValue(config), Value(Body(0, 0, Record(""), 0, 0, Record(""))));
    config.dumpEnabled = true;
    config.dumpType = 2;
    config.dumpFolder = "/d";
    config.logEnabled = true;
    config.logLevel = 4;
    config.logFolder = "/var/log";
    EXPECT_EQ(BuildDiagnosticsValue(config),
              Value(Body(1, 2, Record("/d"), 1, 4, Record("/var/log"))));
}

TEST_F(DiagnosticsTest, WrittenSettingsLoadBackUnchanged) {
    const std::string unicode = (m_temp / "L\xC3\xB6gs \xE2\x9C\x93 \xF0\x9D\x84\x9E").string();
    fs::create_directory(unicode);
    const Settings rows[] = {
        {},
        {true, 1, m_existing, false, 0, ""},
        {false, 0, "", true, 2, m_existing},
        {true, 2, m_existing, true, 4, unicode},
        {false, -5, m_missing, false, 99, "not checked while off"},
    };
    for (const Settings& row : rows) {
        SCOPED_TRACE(row.dumpFolder + " | " + row.logFolder);
        DiagnosticsConfiguration config;
        config.dumpEnabled = row.dumpEnabled;
        config.dumpType = row.dumpType;
        config.dumpFolder = row.dumpFolder;
        config.logEnabled = row.logEnabled;
        config.logLevel = row.logLevel;
        config.logFolder = row.logFolder;
        std::string error;
        ASSERT_TRUE(WriteDiagnosticsValue(config, &error)) << error;

        DiagnosticsConfiguration loaded;
        ASSERT_TRUE(loaded.Load());
        ExpectSame(Of(loaded), row);
    }
}

TEST_F(DiagnosticsTest, WriterRefusesSettingsTheProgramWouldIgnore) {
    const Bytes before = Value(Body(0, 0, Record(""), 0, 0, Record("")));
    StoreRaw(before);
    const struct {
        const char* name;
        Settings settings;
        const char* reason; // a part of the one-line reason
    } rows[] = {
        {"dump_type_3", {true, 3, m_existing, false, 0, ""}, "dump type 3"},
        {"dump_folder_missing", {true, 1, m_missing, false, 0, ""}, "does not exist"},
        {"log_folder_empty", {false, 0, "", true, 1, ""}, "log folder is empty"},
        {"log_level_5", {false, 0, "", true, 5, m_existing}, "log level 5"},
        {"folder_not_utf8", {false, 0, "\xFF\xFE", false, 0, ""}, "UTF-8"},
        {"folder_with_nul", {false, 0, "", true, 1, m_existing + std::string("\0x", 2)}, "NUL"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DiagnosticsConfiguration config;
        config.dumpEnabled = row.settings.dumpEnabled;
        config.dumpType = row.settings.dumpType;
        config.dumpFolder = row.settings.dumpFolder;
        config.logEnabled = row.settings.logEnabled;
        config.logLevel = row.settings.logLevel;
        config.logFolder = row.settings.logFolder;
        std::string error;
        EXPECT_FALSE(WriteDiagnosticsValue(config, &error));
        EXPECT_NE(error.find(row.reason), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);

        DiagnosticsConfiguration stored;
        ASSERT_TRUE(stored.Load()) << "the old value stays";
        ExpectSame(Of(stored), {});
    }
}

TEST_F(DiagnosticsTest, ClearRemovesTheValueAndToleratesItsAbsence) {
    std::string error;
    EXPECT_TRUE(ClearDiagnosticsValue(&error)) << "no key yet: " << error;
    StoreRaw(Value(Body(0, 0, Record(""), 0, 0, Record(""))));
    EXPECT_TRUE(ClearDiagnosticsValue(&error)) << error;
    DiagnosticsConfiguration config;
    EXPECT_FALSE(config.Load());
    EXPECT_TRUE(ClearDiagnosticsValue(&error)) << "already gone: " << error;
}

} // namespace
} // namespace qarn
