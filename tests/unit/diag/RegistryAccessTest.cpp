#include "diag/RegistryAccess.h"

#include "diag/CHRegKey.h"
#include "diag/CMyByteArray.h"
#include "platform/Registry.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

namespace fs = std::filesystem;

size_t OpenDescriptorCount() {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST(CMyByteArrayTest, ResizeKeepsThePrefixAndZeroFreesTheBuffer) {
    CMyByteArray empty;
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_EQ(empty.Data(), nullptr);

    CMyByteArray bytes(5);
    ASSERT_EQ(bytes.Size(), 5u);
    ASSERT_NE(bytes.Data(), nullptr);
    for (uint8_t i = 0; i < 5; ++i)
        bytes.Data()[i] = static_cast<uint8_t>(i + 1);

    ASSERT_TRUE(bytes.Resize(8));
    EXPECT_EQ(bytes.Size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.Data(), bytes.Data() + 5),
              (std::vector<uint8_t>{1, 2, 3, 4, 5}));

    ASSERT_TRUE(bytes.Resize(3));
    EXPECT_EQ(std::vector<uint8_t>(bytes.Data(), bytes.Data() + 3),
              (std::vector<uint8_t>{1, 2, 3}));

    const uint8_t* before = bytes.Data();
    ASSERT_TRUE(bytes.Resize(3));
    EXPECT_EQ(bytes.Data(), before) << "same size: the buffer stays";

    ASSERT_TRUE(bytes.Resize(0));
    EXPECT_EQ(bytes.Size(), 0u);
    EXPECT_EQ(bytes.Data(), nullptr);
    EXPECT_TRUE(bytes.Resize(0));
}

// A private settings store in a temporary folder.
class RegistryAccessTest : public ::testing::Test {
  protected:
    void Store(const std::string& key, const std::string& name, uint32_t type,
               const std::vector<uint8_t>& bytes) {
        platform::RegKeyHandle handle = nullptr;
        ASSERT_EQ(platform::RegistryCreateKey(platform::kHKeyLocalMachine, key, platform::kKeyWrite,
                                              &handle),
                  platform::kRegOk);
        CHRegKey owner(handle);
        ASSERT_EQ(platform::RegistrySetValue(owner.Get(), name, type, bytes.data(),
                                             static_cast<uint32_t>(bytes.size())),
                  platform::kRegOk);
    }

    test::TempDir m_temp{"qarn-regaccess"};
    test::ScopedRegistryRoot m_store{m_temp};
};

TEST_F(RegistryAccessTest, OpenRegistryKeyClosesWhatTheKeyHeldBefore) {
    const size_t baseline = OpenDescriptorCount();
    CHRegKey key;
    EXPECT_FALSE(OpenRegistryKey(platform::kHKeyLocalMachine, "A\\B", false, false, key));
    EXPECT_EQ(key.Get(), nullptr);

    ASSERT_TRUE(OpenRegistryKey(platform::kHKeyLocalMachine, "A\\B", false, true, key));
    EXPECT_TRUE(fs::is_directory(m_store.Root() / "HKLM/A/B"));
    const platform::RegKeyHandle first = key.Get();
    EXPECT_NE(first, nullptr);

    EXPECT_FALSE(OpenRegistryKey(platform::kHKeyLocalMachine, "", false, false, key));
    EXPECT_EQ(key.Get(), first) << "an empty path fails before anything is closed";

    // Reopening (in either view: they are the same store) must not leak the first key.
    const size_t withOneKey = OpenDescriptorCount();
    ASSERT_TRUE(OpenRegistryKey(platform::kHKeyLocalMachine, "A", true, false, key));
    ASSERT_TRUE(OpenRegistryKey(platform::kHKeyLocalMachine, "A\\B", false, false, key));
    EXPECT_EQ(OpenDescriptorCount(), withOneKey);

    EXPECT_FALSE(OpenRegistryKey(platform::kHKeyLocalMachine, "A\\C", false, false, key));
    EXPECT_EQ(key.Get(), nullptr);
    EXPECT_EQ(OpenDescriptorCount(), baseline);

    ASSERT_TRUE(OpenRegistryKey(platform::kHKeyLocalMachine, "A", false, false, key));
    key._Release();
    key._Release();
    EXPECT_EQ(key.Get(), nullptr);
    EXPECT_EQ(OpenDescriptorCount(), baseline);
}

TEST_F(RegistryAccessTest, ReadRegistryBinaryTakesOnlyABinaryValue) {
    CMyByteArray bytes(3);
    EXPECT_FALSE(ReadRegistryBinary("", "v", bytes));
    EXPECT_FALSE(ReadRegistryBinary("K", "", bytes));

    EXPECT_FALSE(ReadRegistryBinary("K", "v", bytes)) << "no key";
    EXPECT_EQ(bytes.Size(), 0u) << "old content is dropped";

    Store("K", "v", platform::kRegBinary, {7, 8, 9, 10});
    ASSERT_TRUE(ReadRegistryBinary("K", "v", bytes));
    ASSERT_EQ(bytes.Size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.Data(), bytes.Data() + 4),
              (std::vector<uint8_t>{7, 8, 9, 10}));

    Store("K", "v", platform::kRegDword, {1, 0, 0, 0});
    EXPECT_FALSE(ReadRegistryBinary("K", "v", bytes));
    EXPECT_EQ(bytes.Size(), 0u);

    Store("K", "v", platform::kRegBinary, {});
    EXPECT_TRUE(ReadRegistryBinary("K", "v", bytes)) << "an empty binary value is still a value";
    EXPECT_EQ(bytes.Size(), 0u);
}

TEST_F(RegistryAccessTest, PathExistsForFoldersAndFilesOnly) {
    const fs::path folder = m_temp / "folder";
    fs::create_directory(folder);
    std::ofstream(folder / "file") << "x";
    fs::create_symlink(m_temp / "nowhere", m_temp / "dangling");
    const struct {
        const char* name;
        std::string path;
        bool exists;
    } rows[] = {
        {"empty", "", false},
        {"folder", folder.string(), true},
        {"folder_with_trailing_slash", folder.string() + "/", true},
        {"file", (folder / "file").string(), true},
        {"missing", (m_temp / "nowhere").string(), false},
        {"dangling_link", (m_temp / "dangling").string(), false},
        {"existing_prefix_before_nul", folder.string() + std::string("\0/x", 3), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(PathExists(row.path), row.exists);
    }
}

} // namespace
} // namespace qarn
