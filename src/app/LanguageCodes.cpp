#include "app/LanguageCodes.h"

#include "platform/Process.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qarn {

namespace {

constexpr std::string_view kCacheFolder = "qarn";
constexpr std::string_view kCacheFile = "QarnPlonLangCache.lang";
constexpr size_t kCacheReadLimit = 4096; // bytes

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

size_t CountCodePoints(std::string_view text) {
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !IsUtf8Continuation(c); }));
}

// Byte 0xE9 -> "\xC3\xA9": the cache holds one character per byte.
void AppendLatin1(std::string& out, unsigned char byte) {
    if (byte < 0x80) {
        out.push_back(static_cast<char>(byte));
        return;
    }
    out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
    out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
}

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return (value != nullptr) ? std::string(value) : std::string();
}

} // namespace

const std::array<std::string, 8>& SupportedLanguages() {
    static const std::array<std::string, 8> codes = {"DEU", "ENU", "ESP", "FRA",
                                                     "ITA", "POR", "RUS", "SLV"};
    return codes;
}

std::string NormalizeLanguageCode(std::string_view code) {
    // Tried in this order; the first match wins.
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 11> kTable = {{
        {"DA", "DAN"},
        {"DE", "DEU"},
        {"EN", "ENU"},
        {"ES", "ESP"},
        {"FR", "FRA"},
        {"IT", "ITA"},
        {"LV", "LVI"},
        {"PT", "POR"},
        {"PO", "POR"},
        {"RU", "RUS"},
        {"SL", "SLV"},
    }};
    if (CountCodePoints(code) != 3)
        return "ENU";
    const char first = AsciiUpper(code[0]);
    const char second = AsciiUpper(code[1]);
    for (const auto& [prefix, result] : kTable) {
        if (prefix[0] == first && prefix[1] == second)
            return std::string(result);
    }
    return "ENU";
}

std::string LocaleAbbreviation(std::string_view locale) {
    // language[_territory][.codeset][@modifier]
    const size_t languageEnd = locale.find_first_of("_.@");
    const std::string_view language = locale.substr(0, languageEnd);
    std::string result;
    for (const char c : language)
        result.push_back(AsciiUpper(c));
    if (languageEnd != std::string_view::npos && locale[languageEnd] == '_') {
        const std::string_view rest = locale.substr(languageEnd + 1);
        if (!rest.empty() && IsAsciiLetter(rest[0]))
            result.push_back(AsciiUpper(rest[0]));
    } else if (language.size() == 2 && IsAsciiLetter(language[0])) {
        result.push_back(AsciiUpper(language[0]));
    }
    return result;
}

std::string SystemLanguageCode() {
    std::string locale = EnvironmentValue("LC_ALL");
    if (locale.empty())
        locale = EnvironmentValue("LC_MESSAGES");
    if (locale.empty())
        locale = EnvironmentValue("LANG");
    const std::string abbreviation = LocaleAbbreviation(locale);
    if (abbreviation.size() != 3)
        return "ENU";
    return NormalizeLanguageCode(abbreviation);
}

std::string CommonAppDataFolder() {
    const std::string configured = EnvironmentValue("QARN_COMMON_APPDATA");
    return configured.empty() ? std::string("/var/lib") : configured;
}

std::string LanguageCachePath() {
    std::string path = CommonAppDataFolder();
    path += '/';
    path += kCacheFolder;
    path += '/';
    path += kCacheFile;
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!error && std::filesystem::is_regular_file(status)) {
        const auto size = std::filesystem::file_size(path, error);
        if (!error && size != 0)
            return path;
    }
    return path + "/Language";
}

std::string ReadLanguageCache(const std::string& path) {
    // Non-blocking open, so that a FIFO put in the cache's place cannot stall start-up.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat info {};
    std::string text;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        unsigned char buffer[kCacheReadLimit];
        size_t filled = 0;
        while (filled < sizeof buffer) {
            const ssize_t n = read(fd, buffer + filled, sizeof buffer - filled);
            if (n <= 0)
                break;
            filled += static_cast<size_t>(n);
        }
        for (size_t i = 0; i < filled && buffer[i] != 0; ++i)
            AppendLatin1(text, buffer[i]);
    }
    close(fd);
    return text;
}

std::string CodeFromLibraryPath(std::string_view path) {
    // Walk back over whole UTF-8 characters: four for ".rcc", then three for the code.
    size_t end = path.size();
    size_t start = end;
    for (int characters = 0; characters < 7; ++characters) {
        if (start == 0)
            return {};
        do {
            --start;
        } while (start > 0 && IsUtf8Continuation(path[start]));
        if (characters == 3)
            end = start;
    }
    return std::string(path.substr(start, end - start));
}

std::vector<std::string> FindFiles(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error)
        return {};
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error)
            break;
        const std::string name = it->path().filename().string();
        if (name == "." || name == "..")
            continue;
        if (fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) != 0)
            continue;
        std::error_code kindError;
        if (it->is_directory(kindError))
            continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int folded = strcasecmp(a.c_str(), b.c_str());
        return folded != 0 ? folded < 0 : a < b;
    });
    std::string prefix = folder;
    if (prefix.empty() || prefix.back() != '/')
        prefix.push_back('/');
    std::vector<std::string> paths;
    paths.reserve(names.size());
    for (const std::string& name : names)
        paths.push_back(prefix + name);
    return paths;
}

std::string BundleFolderFor(const std::string& programFolder) {
    constexpr const char* kPattern = "qarnres_*.rcc";
    if (programFolder.empty() || !FindFiles(programFolder, kPattern).empty())
        return programFolder;
    const std::string installed = programFolder + "/../share/qarn-converter-config";
    return FindFiles(installed, kPattern).empty() ? programFolder : installed;
}

std::string BundleFolder() {
    return BundleFolderFor(ProgramFolder());
}

std::string ProgramFolder() {
    const auto file = platform::GetModuleFileName();
    if (!file)
        return {};
    const size_t slash = file->rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : file->substr(0, slash);
}

} // namespace qarn
