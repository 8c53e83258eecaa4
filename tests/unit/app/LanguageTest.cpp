#include "app/LanguageCodes.h"
#include "app/QarnPlonResourceHelper.h"
#include "app/Resources.h"
#include "support/TempDir.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdlib.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

namespace fs = std::filesystem;

const fs::path kBuiltBundles = QARN_BUNDLE_DIR;

// Sets (or, with nullopt, unsets) the variables that decide the language for the life of the
// object, and puts back what was there before.
class ScopedEnvironment {
  public:
    ScopedEnvironment() {
        for (size_t i = 0; i < kNames.size(); ++i) {
            if (const char* value = std::getenv(kNames[i]))
                m_saved[i] = value;
            unsetenv(kNames[i]);
        }
    }
    ~ScopedEnvironment() {
        for (size_t i = 0; i < kNames.size(); ++i) {
            if (m_saved[i])
                setenv(kNames[i], m_saved[i]->c_str(), 1);
            else
                unsetenv(kNames[i]);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    static void Set(const char* name, const std::optional<std::string>& value) {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }

  private:
    static constexpr std::array<const char*, 4> kNames = {"LC_ALL", "LC_MESSAGES", "LANG",
                                                          "QARN_COMMON_APPDATA"};
    std::array<std::optional<std::string>, 4> m_saved;
};

void WriteBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> FileNames(const std::vector<std::string>& paths) {
    std::vector<std::string> names;
    for (const auto& path : paths)
        names.push_back(fs::path(path).filename().string());
    return names;
}

TEST(NormalizeLanguageCode, MapsThreeCharacterCodesByTheirFirstTwo) {
    struct Row {
        const char* name;
        std::string input;
        const char* expected;
    };
    const Row rows[] = {
        {"exact", "DEU", "DEU"},
        {"lower case", "deu", "DEU"},
        {"mixed case", "dAn", "DAN"},
        {"swiss german", "DES", "DEU"},
        {"british", "ENG", "ENU"},
        {"spanish", "esn", "ESP"},
        {"canadian french", "FRC", "FRA"},
        {"italian", "ITA", "ITA"},
        {"latvian", "LVI", "LVI"},
        {"brazilian", "PTB", "POR"},
        {"po prefix", "POL", "POR"},
        {"russian", "RUS", "RUS"},
        {"slovenian", "slv", "SLV"},
        {"unknown", "NLD", "ENU"},
        {"digit first", "1DE", "ENU"},
        {"empty", "", "ENU"},
        {"two characters", "DE", "ENU"},
        {"four characters", "DEUT", "ENU"},
        {"line end kept", "DEU\r\n", "ENU"},
        // Characters, not bytes: "DE" + e-acute (two UTF-8 bytes) is three characters.
        {"non-ascii third", "DE\xC3\xA9", "DEU"},
        {"non-ascii first",
         "\xC3\x84"
         "DE",
         "ENU"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(NormalizeLanguageCode(row.input), row.expected);
    }
}

TEST(SystemLanguageCode, TakesTheLocaleAbbreviation) {
    struct Row {
        const char* locale;
        const char* abbreviation;
        const char* code;
    };
    const Row rows[] = {
        {"de_CH.UTF-8", "DEC", "DEU"}, {"pt_BR", "PTB", "POR"},
        {"fr_CA", "FRC", "FRA"},       {"en_US", "ENU", "ENU"},
        {"en_GB@euro", "ENG", "ENU"},  {"sl_SI.UTF-8", "SLS", "SLV"},
        {"nl_NL", "NLN", "ENU"},       {"de", "DED", "DEU"},
        {"ru.KOI8-R", "RUR", "RUS"},   {"C", "C", "ENU"},
        {"C.UTF-8", "C", "ENU"},       {"POSIX", "POSIX", "ENU"},
        {"fil_PH", "FILP", "ENU"},     {"", "", "ENU"},
    };
    ScopedEnvironment environment;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.locale);
        EXPECT_EQ(LocaleAbbreviation(row.locale), row.abbreviation);
        ScopedEnvironment::Set("LANG", std::string(row.locale));
        EXPECT_EQ(SystemLanguageCode(), row.code);
    }
}

TEST(SystemLanguageCode, PrefersLcAllThenLcMessagesThenLang) {
    using Value = std::optional<std::string>;
    struct Row {
        const char* name;
        Value all, messages, lang;
        const char* expected;
    };
    const Row rows[] = {
        {"all wins", "ru_RU", "fr_FR", "de_DE", "RUS"},
        {"messages before lang", std::nullopt, "sl_SI", "de_DE", "SLV"},
        {"empty counts as unset", "", "", "it_IT", "ITA"},
        {"nothing set", std::nullopt, std::nullopt, std::nullopt, "ENU"},
    };
    ScopedEnvironment environment;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScopedEnvironment::Set("LC_ALL", row.all);
        ScopedEnvironment::Set("LC_MESSAGES", row.messages);
        ScopedEnvironment::Set("LANG", row.lang);
        EXPECT_EQ(SystemLanguageCode(), row.expected);
    }
}

// The first-run language from what lies at the cache's place; the locale says Italian, so "ITA"
// shows that the cache gave nothing.
TEST(GetDefaultLanguage, ReadsTheCacheFileElseTheLocale) {
    enum class Layout { File, Folder, Missing };
    struct Row {
        const char* name;
        Layout layout;
        std::string bytes;
        const char* expected;
        bool cachePathIsFile;
    };
    using namespace std::string_literals;
    const Row rows[] = {
        {"code", Layout::File, "DEU", "DEU", true},
        {"lower case", Layout::File, "deu", "DEU", true},
        {"line end", Layout::File, "DEU\r\n", "ENU", true},
        {"po prefix", Layout::File, "POL", "POR", true},
        {"cut at zero byte", Layout::File, "DEU\0junk"s, "DEU", true},
        {"zero byte first", Layout::File, "\0DEU"s, "ITA", true},
        {"latin-1 byte", Layout::File, "DE\xE9", "DEU", true},
        {"empty file", Layout::File, "", "ITA", false},
        {"missing", Layout::Missing, "", "ITA", false},
        {"folder holding Language", Layout::Folder, "FRA", "FRA", false},
        {"empty folder", Layout::Folder, "", "ITA", false},
    };
    ScopedEnvironment environment;
    ScopedEnvironment::Set("LC_ALL", std::string("it_IT.UTF-8"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir("qarn-lang");
        ScopedEnvironment::Set("QARN_COMMON_APPDATA", dir.Path().string());
        const fs::path cache = dir / "qarn" / "QarnPlonLangCache.lang";
        if (row.layout == Layout::File)
            WriteBytes(cache, row.bytes);
        if (row.layout == Layout::Folder) {
            fs::create_directories(cache);
            if (!row.bytes.empty())
                WriteBytes(cache / "Language", row.bytes);
        }
        EXPECT_EQ(LanguageCachePath(),
                  row.cachePathIsFile ? cache.string() : (cache / "Language").string());
        QarnPlonResourceHelper helper(dir.Path().string());
        EXPECT_EQ(helper.GetDefaultLanguage(), row.expected);
    }
}

TEST(ReadLanguageCache, DecodesEachByteAsOneCharacter) {
    test::TempDir dir("qarn-lang");
    WriteBytes(dir / "cache", "D\xC4X");
    EXPECT_EQ(ReadLanguageCache((dir / "cache").string()), "D\xC3\x84X");
    EXPECT_EQ(ReadLanguageCache((dir / "absent").string()), "");
    EXPECT_EQ(ReadLanguageCache(dir.Path().string()), "") << "a folder is no cache";
}

TEST(LanguageCachePath, WithoutAnAppDataOverrideLooksInVarLib) {
    ScopedEnvironment environment;
    EXPECT_EQ(CommonAppDataFolder(), "/var/lib");
    EXPECT_EQ(LanguageCachePath().rfind("/var/lib/qarn/QarnPlonLangCache.lang", 0), 0u);
}

TEST(CodeFromLibraryPath, TakesTheThreeCharactersBeforeTheExtension) {
    struct Row {
        std::string path;
        const char* expected;
    };
    const Row rows[] = {
        {"/opt/qarn/bin/qarnres_DEU.rcc", "DEU"},
        {"qarnres_deu.rcc", "deu"},
        {"DEU.rcc", "DEU"},
        {"/x/qarnres_D\xC3\x89U.rcc", "D\xC3\x89U"},
        // The rule never looks at the name's prefix: a short name yields its tail.
        {"qarnres_.rcc", "es_"},
        {"qarnres_DEUX.rcc", "EUX"},
        {"EU.rcc", ""},
        {"", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(CodeFromLibraryPath(row.path), row.expected);
    }
}

TEST(ScanLibraries, FindsBundleFilesOnlySortedByName) {
    test::TempDir dir("qarn-scan");
    for (const char* name :
         {"qarnres_ENU.rcc", "qarnres_deu.rcc", "qarnres_DEU.rcc", "QARNRES_FRA.RCC",
          "qarnres_ESP.rcc.bak", "readme.txt", "xqarnres_SLV.rcc"})
        WriteBytes(dir / name, "x");
    fs::create_directories(dir / "qarnres_ITA.rcc");
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / "qarnres_RUS.rcc");
    fs::create_symlink(dir / "qarnres_ENU.rcc", dir / "qarnres_POR.rcc");

    QarnPlonResourceHelper helper(dir.Path().string());
    EXPECT_EQ(FileNames(helper.Libraries()),
              (std::vector<std::string>{"qarnres_DEU.rcc", "qarnres_deu.rcc", "qarnres_ENU.rcc",
                                        "QARNRES_FRA.RCC", "qarnres_POR.rcc"}));
    EXPECT_EQ(helper.Libraries().front(), (dir / "qarnres_DEU.rcc").string());

    for (const char* code : {"DEU", "deu", "enu", "FRA", "POR"})
        EXPECT_TRUE(helper.IsLanguageAvailable(code)) << code;
    for (const char* code : {"ITA", "RUS", "ESP", "SLV", "", "DE"})
        EXPECT_FALSE(helper.IsLanguageAvailable(code)) << code;

    std::string path = "unchanged";
    EXPECT_TRUE(helper.FindLibrary("Deu", path));
    EXPECT_EQ(path, (dir / "qarnres_DEU.rcc").string());
    path = "unchanged";
    EXPECT_FALSE(helper.FindLibrary("ITA", path));
    EXPECT_EQ(path, "unchanged");
}

TEST(BundleFolderFor, PrefersTheProgramFolderThenTheInstalledDataFolder) {
    test::TempDir dir("qarn-prefix");
    const std::string bin = (dir / "usr" / "bin").string();
    const std::string share = bin + "/../share/qarn-converter-config";
    fs::create_directories(bin);
    fs::create_directories(share);
    EXPECT_EQ(BundleFolderFor(bin), bin) << "no bundle anywhere: the program's folder";
    WriteBytes(fs::path(share) / "qarnres_ENU.rcc", "x");
    EXPECT_EQ(BundleFolderFor(bin), share);
    EXPECT_EQ(QarnPlonResourceHelper(BundleFolderFor(bin)).Libraries().size(), 1u);
    WriteBytes(fs::path(bin) / "qarnres_DEU.rcc", "x");
    EXPECT_EQ(BundleFolderFor(bin), bin) << "bundles beside the program come first";
    EXPECT_EQ(BundleFolderFor(""), "");
}

TEST(ScanLibraries, UnreadableFolderFindsNothing) {
    QarnPlonResourceHelper helper("/nonexistent/qarn/folder");
    EXPECT_TRUE(helper.Libraries().empty());
    EXPECT_FALSE(helper.IsLanguageAvailable("ENU"));
}

// Loading copies of the real bundles from a private program folder.
class LoadTest : public ::testing::Test {
  protected:
    void Install(const char* builtCode, const std::string& asName) {
        const fs::path built = kBuiltBundles / (std::string("qarnres_") + builtCode + ".rcc");
        ASSERT_TRUE(fs::exists(built)) << built << " missing: build the target qarn_resources";
        fs::copy_file(built, m_dir / asName);
    }
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    // "Close" in the bundle's language tells which bundle answers.
    static std::string CloseText() { return ResourceString(16017).toStdString(); }

    test::TempDir m_dir{"qarn-bundles"};
    QarnPlonResourceHelper m_helper{m_dir.Path().string()};
};

TEST_F(LoadTest, LoadsTheRequestedLanguageCaseIgnored) {
    Install("DEU", "qarnres_DEU.rcc");
    Install("ENU", "qarnres_ENU.rcc");
    ASSERT_TRUE(m_helper.Load("enu"));
    EXPECT_TRUE(m_helper.IsLoaded());
    EXPECT_EQ(m_helper.LanguageCode(), "ENU");
    EXPECT_EQ(m_helper.LibraryPath(), Path("qarnres_ENU.rcc"));
    EXPECT_EQ(CloseText(), "Close");
}

TEST_F(LoadTest, MissingLanguageFallsBackToTheFirstBundle) {
    Install("ENU", "qarnres_ENU.rcc");
    Install("DEU", "qarnres_DEU.rcc");
    ASSERT_TRUE(m_helper.Load("ESP"));
    EXPECT_EQ(m_helper.LanguageCode(), "DEU");
    EXPECT_EQ(CloseText(), "Schließen");
}

TEST_F(LoadTest, EmptyCodeTakesTheLocale) {
    ScopedEnvironment environment;
    ScopedEnvironment::Set("LC_ALL", std::string("en_US.UTF-8"));
    Install("DEU", "qarnres_DEU.rcc");
    Install("ENU", "qarnres_ENU.rcc");
    ASSERT_TRUE(m_helper.Load(""));
    EXPECT_EQ(m_helper.LanguageCode(), "ENU");
}

TEST_F(LoadTest, BundleNamedInLowerCaseServesItsCode) {
    Install("DEU", "qarnres_deu.rcc");
    ASSERT_TRUE(m_helper.Load("DEU"));
    EXPECT_EQ(m_helper.LanguageCode(), "deu");
    EXPECT_EQ(CloseText(), "Schließen");
}

TEST_F(LoadTest, UnofferedLanguageLoadsWhenAsked) {
    Install("ENU", "qarnres_DAN.rcc");
    Install("DEU", "qarnres_DEU.rcc");
    ASSERT_TRUE(m_helper.Load("DAN"));
    EXPECT_EQ(m_helper.LanguageCode(), "DAN");
    const auto& offered = SupportedLanguages();
    EXPECT_EQ(std::find(offered.begin(), offered.end(), "DAN"), offered.end());
}

TEST_F(LoadTest, NoBundleFails) {
    WriteBytes(m_dir / "qarnres_DEU.txt", "not a bundle name");
    EXPECT_FALSE(m_helper.Load("DEU"));
    EXPECT_FALSE(m_helper.IsLoaded());
    EXPECT_EQ(m_helper.LibraryPath(), "");
    EXPECT_EQ(CloseText(), "");
}

// A damaged bundle of the chosen language is not replaced by another one: the program reports
// the missing resources instead of running in a language nobody asked for.
TEST_F(LoadTest, UnreadableChosenBundleFailsWithoutFallback) {
    WriteBytes(m_dir / "qarnres_DEU.rcc", "this is no resource bundle");
    Install("ENU", "qarnres_ENU.rcc");
    EXPECT_FALSE(m_helper.Load("DEU"));
    EXPECT_FALSE(m_helper.IsLoaded());
    EXPECT_EQ(m_helper.LanguageCode(), "");
    EXPECT_EQ(CloseText(), "");
}

TEST_F(LoadTest, UnloadRestoresTheUnloadedState) {
    Install("DEU", "qarnres_DEU.rcc");
    Install("ENU", "qarnres_ENU.rcc");
    ASSERT_TRUE(m_helper.Load("DEU"));
    ASSERT_EQ(CloseText(), "Schließen");

    m_helper.Unload();
    EXPECT_FALSE(m_helper.IsLoaded());
    EXPECT_EQ(m_helper.LibraryPath(), "");
    EXPECT_EQ(m_helper.LanguageCode(), "");
    EXPECT_TRUE(m_helper.Libraries().empty());
    EXPECT_FALSE(m_helper.IsLanguageAvailable("DEU")) << "the scan is forgotten too";
    EXPECT_EQ(CloseText(), "") << "the German bundle is still registered";
    m_helper.Unload();

    // The next cycle answers in the new language only, with nothing of the old one left over.
    ASSERT_TRUE(m_helper.Load("ENU"));
    EXPECT_EQ(CloseText(), "Close");
    ASSERT_TRUE(m_helper.Load("DEU"));
    EXPECT_EQ(CloseText(), "Schließen");
}

TEST_F(LoadTest, DestructionUnregistersTheBundle) {
    Install("ENU", "qarnres_ENU.rcc");
    {
        QarnPlonResourceHelper helper(m_dir.Path().string());
        ASSERT_TRUE(helper.Load("ENU"));
        ASSERT_EQ(CloseText(), "Close");
    }
    EXPECT_EQ(CloseText(), "");
}

} // namespace
} // namespace qarn
