#include "platform/Registry.h"

#include "support/TempDir.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace qarn::platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Each test gets a store of its own in a fresh temporary folder.
class RegistryTest : public ::testing::Test {
  protected:
    fs::path Hklm() const { return m_root / "HKLM"; }

    RegKeyHandle Create(std::string_view path, uint32_t access = kKeyAllAccess) {
        RegKeyHandle key = nullptr;
        EXPECT_EQ(RegistryCreateKey(kHKeyLocalMachine, path, access, &key), kRegOk) << path;
        m_keys.push_back(key);
        return key;
    }

    RegKeyHandle Open(std::string_view path, uint32_t access) {
        RegKeyHandle key = nullptr;
        EXPECT_EQ(RegistryOpenKey(kHKeyLocalMachine, path, access, &key), kRegOk) << path;
        m_keys.push_back(key);
        return key;
    }

    static void WriteFile(const fs::path& path, const Bytes& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    }

    static Bytes ReadFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    ~RegistryTest() override {
        for (RegKeyHandle key : m_keys) {
            if (key != nullptr)
                RegistryCloseKey(key);
        }
    }

    test::TempDir m_temp{"qarn-registry"};
    test::ScopedRegistryRoot m_store{m_temp};
    const fs::path m_root = m_store.Root();
    std::vector<RegKeyHandle> m_keys;
};

TEST_F(RegistryTest, StoresAValueAsAFileWithTypeAndBytes) {
    RegKeyHandle key = Create("SOFTWARE\\qarn\\Diagnostics");
    const Bytes value = {0xAB, 0xCD, 0x00, 0x01};
    ASSERT_EQ(RegistrySetValue(key, "Configuration", kRegBinary, value.data(), 4), kRegOk);

    // The file layout is fixed here by hand, so encoder and decoder cannot drift together.
    const Bytes expected = {'q', 'r', 'e', 'g', 3, 0, 0, 0, 4, 0, 0, 0, 0xAB, 0xCD, 0x00, 0x01};
    EXPECT_EQ(ReadFile(Hklm() / "SOFTWARE/qarn/Diagnostics/Configuration.value"), expected);

    uint32_t type = 0;
    uint32_t size = 0;
    ASSERT_EQ(RegistryQueryValue(key, "Configuration", &type, nullptr, &size), kRegOk);
    EXPECT_EQ(type, kRegBinary);
    EXPECT_EQ(size, 4u);

    Bytes small(3, 0xEE);
    size = 3;
    EXPECT_EQ(RegistryQueryValue(key, "Configuration", &type, small.data(), &size), kRegMoreData);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(small, Bytes(3, 0xEE)) << "nothing copied into a buffer that is too small";

    Bytes large(10, 0xEE);
    size = 10;
    ASSERT_EQ(RegistryQueryValue(key, "Configuration", &type, large.data(), &size), kRegOk);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(Bytes(large.begin(), large.begin() + 4), value);

    EXPECT_EQ(RegistryQueryValue(key, "Configuration", nullptr, large.data(), nullptr),
              kRegInvalidParameter);
}

TEST_F(RegistryTest, ReplacingAValueLeavesNoTemporaryFiles) {
    RegKeyHandle key = Create("K");
    for (uint8_t round = 0; round < 5; ++round) {
        const Bytes value(round, round);
        ASSERT_EQ(RegistrySetValue(key, "v", kRegDword + round, value.data(), round), kRegOk);
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Hklm() / "K"))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"v.value"});

    uint32_t type = 0;
    Bytes read(8);
    uint32_t size = 8;
    ASSERT_EQ(RegistryQueryValue(key, "v", &type, read.data(), &size), kRegOk);
    EXPECT_EQ(type, kRegDword + 4);
    EXPECT_EQ(Bytes(read.begin(), read.begin() + size), Bytes(4, 4));
}

TEST_F(RegistryTest, OpenNeedsAnExistingKeyAndCreateReportsWhatItMade) {
    RegKeyHandle key = nullptr;
    EXPECT_EQ(RegistryOpenKey(kHKeyLocalMachine, "A\\B", kKeyRead, &key), kRegFileNotFound);
    EXPECT_EQ(key, nullptr);

    bool created = false;
    ASSERT_EQ(RegistryCreateKey(kHKeyLocalMachine, "A\\B", kKeyRead, &key, &created), kRegOk);
    EXPECT_TRUE(created);
    EXPECT_TRUE(fs::is_directory(Hklm() / "A/B"));
    EXPECT_EQ(RegistryCloseKey(key), kRegOk);

    ASSERT_EQ(RegistryCreateKey(kHKeyLocalMachine, "A\\B", kKeyRead, &key, &created), kRegOk);
    EXPECT_FALSE(created);
    EXPECT_EQ(RegistryCloseKey(key), kRegOk);

    // A sub key below an open key, and the open key itself again with an empty path.
    RegKeyHandle parent = Open("A", kKeyRead);
    ASSERT_EQ(RegistryOpenKey(parent, "B", kKeyRead, &key), kRegOk);
    EXPECT_EQ(RegistryCloseKey(key), kRegOk);
    ASSERT_EQ(RegistryOpenKey(parent, "", kKeyRead, &key), kRegOk);
    EXPECT_EQ(RegistryCloseKey(key), kRegOk);
}

TEST_F(RegistryTest, KeyPathsThatCouldLeaveTheRootAreRefused) {
    Create("inside");
    const struct {
        const char* name;
        std::string path;
    } rows[] = {
        {"parent", ".."},
        {"parent_in_the_middle", "inside\\..\\..\\escaped"},
        {"dot", "inside\\."},
        {"empty_part", "inside\\\\x"},
        {"leading_separator", "\\inside"},
        {"trailing_separator", "inside\\"},
        {"slash_inside_a_part", "inside/../../escaped"},
        {"absolute_slash", "/tmp"},
        {"embedded_nul", std::string("inside\0x", 8)},
        {"value_file_name", "inside\\x.value"},
        {"too_long_part", std::string(300, 'k')},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (const bool create : {false, true}) {
            RegKeyHandle key = nullptr;
            const RegStatus status =
                create ? RegistryCreateKey(kHKeyLocalMachine, row.path, kKeyRead, &key)
                       : RegistryOpenKey(kHKeyLocalMachine, row.path, kKeyRead, &key);
            EXPECT_EQ(status, kRegInvalidParameter) << (create ? "create" : "open");
            EXPECT_EQ(key, nullptr);
        }
    }
    EXPECT_FALSE(fs::exists(m_root / "escaped"));
    EXPECT_FALSE(fs::exists(m_root.parent_path() / "escaped"));
}

TEST_F(RegistryTest, SymbolicLinksInsideTheStoreAreNotFollowed) {
    Create("K");
    const fs::path outside = m_root / "outside";
    fs::create_directory(outside);
    fs::create_directory_symlink(outside, Hklm() / "K" / "link");
    WriteFile(outside / "v.value", {'q', 'r', 'e', 'g', 3, 0, 0, 0, 0, 0, 0, 0});
    fs::create_symlink(outside / "v.value", Hklm() / "K" / "w.value");

    RegKeyHandle key = nullptr;
    EXPECT_EQ(RegistryOpenKey(kHKeyLocalMachine, "K\\link", kKeyRead, &key), kRegFileNotFound);
    RegKeyHandle k = Open("K", kKeyRead);
    EXPECT_EQ(RegistryQueryValue(k, "w", nullptr, nullptr, nullptr), kRegCorrupt);
}

TEST_F(RegistryTest, ValueNamesAreCheckedLikeKeyParts) {
    RegKeyHandle key = Create("K");
    const uint8_t byte = 1;
    for (const std::string& name :
         {std::string("a/b"), std::string("a\0b", 3), std::string(300, 'v')}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(RegistrySetValue(key, name, kRegBinary, &byte, 1), kRegInvalidParameter);
        EXPECT_EQ(RegistryQueryValue(key, name, nullptr, nullptr, nullptr), kRegInvalidParameter);
        EXPECT_EQ(RegistryDeleteValue(key, name), kRegInvalidParameter);
    }
    // The unnamed (default) value and names that only look like paths stay inside the key.
    for (const char* name : {"", "..", "a\\b"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(RegistrySetValue(key, name, kRegBinary, &byte, 1), kRegOk);
        EXPECT_EQ(RegistryQueryValue(key, name, nullptr, nullptr, nullptr), kRegOk);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(Hklm() / "K"), fs::directory_iterator()), 3);
}

TEST_F(RegistryTest, MalformedValueFilesGiveAnErrorNotACrash) {
    RegKeyHandle key = Create("K");
    const Bytes header = {'q', 'r', 'e', 'g', 3, 0, 0, 0};
    auto withSize = [&](uint32_t size, Bytes data) {
        Bytes file = header;
        for (int shift = 0; shift < 32; shift += 8)
            file.push_back(static_cast<uint8_t>(size >> shift));
        file.insert(file.end(), data.begin(), data.end());
        return file;
    };
    const struct {
        const char* name;
        Bytes file;
    } rows[] = {
        {"empty", {}},
        {"header_cut_short", {'q', 'r', 'e', 'g', 3, 0, 0, 0, 1, 0, 0}},
        {"wrong_magic", {'q', 'r', 'e', 'x', 3, 0, 0, 0, 0, 0, 0, 0}},
        {"size_beyond_the_data", withSize(3, {1, 2})},
        {"bytes_after_the_data", withSize(1, {1, 2})},
        {"size_field_huge", withSize(0xFFFFFFFF, {1})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFile(Hklm() / "K/v.value", row.file);
        uint32_t size = 0;
        EXPECT_EQ(RegistryQueryValue(key, "v", nullptr, nullptr, &size), kRegCorrupt);
        uint32_t type = 0;
        std::span<const uint8_t> data;
        EXPECT_EQ(DecodeRegistryValueFile(row.file, type, data), kRegCorrupt);
    }

    // Larger than any value may be: refused from its size alone (a sparse file, nothing read).
    {
        const int fd = open((Hklm() / "K/big.value").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 64 * 1024 * 1024), 0);
        close(fd);
        EXPECT_EQ(RegistryQueryValue(key, "big", nullptr, nullptr, nullptr), kRegCorrupt);
    }
    // Something other than a regular file in the place of a value; a FIFO must not block.
    fs::create_directory(Hklm() / "K/dir.value");
    EXPECT_EQ(RegistryQueryValue(key, "dir", nullptr, nullptr, nullptr), kRegCorrupt);
    ASSERT_EQ(mkfifo((Hklm() / "K/fifo.value").c_str(), 0644), 0);
    EXPECT_EQ(RegistryQueryValue(key, "fifo", nullptr, nullptr, nullptr), kRegCorrupt);
}

TEST_F(RegistryTest, EncodedFilesDecodeToTheSameTypeAndBytes) {
    for (const Bytes& data : {Bytes{}, Bytes{0}, Bytes(kRegMaxValueSize, 0x5A)}) {
        const Bytes file = EncodeRegistryValueFile(0xDEADBEEF, data);
        uint32_t type = 0;
        std::span<const uint8_t> decoded;
        ASSERT_EQ(DecodeRegistryValueFile(file, type, decoded), kRegOk);
        EXPECT_EQ(type, 0xDEADBEEFu);
        EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), data.begin(), data.end()));
    }
}

TEST_F(RegistryTest, KeyRightsLimitWhatTheKeyMayDo) {
    Create("K");
    const uint8_t byte = 7;
    RegKeyHandle reader = Open("K", kKeyRead | kKeyWow64_64Key);
    EXPECT_EQ(RegistrySetValue(reader, "v", kRegBinary, &byte, 1), kRegAccessDenied);
    EXPECT_EQ(RegistryDeleteValue(reader, "v"), kRegAccessDenied);
    EXPECT_FALSE(fs::exists(Hklm() / "K/v.value"));

    RegKeyHandle writer = Open("K", kKeySetValue | kKeyWow64_32Key);
    EXPECT_EQ(RegistrySetValue(writer, "v", kRegBinary, &byte, 1), kRegOk);
    EXPECT_EQ(RegistryQueryValue(writer, "v", nullptr, nullptr, nullptr), kRegAccessDenied);
    EXPECT_EQ(RegistryQueryValue(reader, "v", nullptr, nullptr, nullptr), kRegOk);
}

TEST_F(RegistryTest, SetAndDeleteReportTheirFailures) {
    RegKeyHandle key = Create("K");
    const Bytes tooLarge(kRegMaxValueSize + 1);
    EXPECT_EQ(RegistrySetValue(key, "v", kRegBinary, tooLarge.data(), kRegMaxValueSize + 1),
              kRegInvalidParameter);
    EXPECT_EQ(RegistrySetValue(key, "v", kRegBinary, nullptr, 1), kRegInvalidParameter);
    EXPECT_EQ(RegistrySetValue(key, "v", kRegNone, nullptr, 0), kRegOk);

    EXPECT_EQ(RegistryDeleteValue(key, "v"), kRegOk);
    EXPECT_EQ(RegistryQueryValue(key, "v", nullptr, nullptr, nullptr), kRegFileNotFound);
    EXPECT_EQ(RegistryDeleteValue(key, "v"), kRegFileNotFound);

    EXPECT_EQ(RegistrySetValue(nullptr, "v", kRegBinary, nullptr, 0), kRegInvalidHandle);
    EXPECT_EQ(RegistryQueryValue(nullptr, "v", nullptr, nullptr, nullptr), kRegInvalidHandle);
    EXPECT_EQ(RegistryDeleteValue(nullptr, "v"), kRegInvalidHandle);
    EXPECT_EQ(RegistryCloseKey(nullptr), kRegInvalidHandle);
    EXPECT_EQ(RegistryCloseKey(kHKeyLocalMachine), kRegOk);
    RegKeyHandle result = nullptr;
    EXPECT_EQ(RegistryOpenKey(nullptr, "K", kKeyRead, &result), kRegInvalidHandle);
    EXPECT_EQ(RegistryOpenKey(kHKeyLocalMachine, "K", kKeyRead, nullptr), kRegInvalidParameter);
}

TEST_F(RegistryTest, TheRootIsReadAtEveryOpen) {
    const uint8_t first = 1;
    ASSERT_EQ(RegistrySetValue(Create("K"), "v", kRegBinary, &first, 1), kRegOk);
    // Values may also sit directly on the root.
    ASSERT_EQ(RegistrySetValue(kHKeyLocalMachine, "top", kRegBinary, &first, 1), kRegOk);
    EXPECT_TRUE(fs::exists(Hklm() / "top.value"));

    const fs::path other = m_root / "other";
    ASSERT_EQ(setenv("QARN_REGISTRY_ROOT", other.c_str(), 1), 0);
    RegKeyHandle key = nullptr;
    EXPECT_EQ(RegistryOpenKey(kHKeyLocalMachine, "K", kKeyRead, &key), kRegFileNotFound);
    EXPECT_EQ(RegistryQueryValue(kHKeyLocalMachine, "top", nullptr, nullptr, nullptr),
              kRegFileNotFound);
    RegKeyHandle created = Create("K");
    EXPECT_TRUE(fs::is_directory(other / "HKLM/K"));
    EXPECT_EQ(RegistryQueryValue(created, "v", nullptr, nullptr, nullptr), kRegFileNotFound);

    // The user root sits beside the machine root under the same variable.
    ASSERT_EQ(RegistryCreateKey(kHKeyCurrentUser, "Settings", kKeyRead, &key), kRegOk);
    EXPECT_EQ(RegistryCloseKey(key), kRegOk);
    EXPECT_TRUE(fs::is_directory(other / "HKCU/Settings"));
}

} // namespace
} // namespace qarn::platform
