#include "platform/NameHash.h"
#include "platform/RuntimeDirectory.h"
#include "platform/WinText.h"
#include "platform/WindowsApi.h"

#include <cerrno>
#include <cstdint>
#include <knownfolders.h>
#include <shlobj.h>

namespace qarn::platform {

namespace {

// The user's local application data folder (%LOCALAPPDATA%), which the system makes private to
// the user; not the variable, which anyone starting the program could point elsewhere.
std::optional<std::wstring> LocalAppData() {
    PWSTR path = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &path))) {
        CoTaskMemFree(path);
        return std::nullopt;
    }
    std::wstring folder(path);
    CoTaskMemFree(path);
    return folder;
}

// Makes `path` unless it exists (inheriting the private permissions of the user's profile), then
// accepts it only as a real folder: a junction or link planted at the name could lead elsewhere.
bool EnsurePrivateFolder(const std::wstring& path) {
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        errno = EACCES;
        return false;
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        errno = ENOENT;
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        errno = EPERM;
        return false;
    }
    return true;
}

// Besides what Linux refuses, Windows file names may hold none of \ : * ? " < > |.
bool NeedsEscape(char c) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
    case '/':
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
    case '%':
        return true;
    default:
        return byte < 0x20 || byte == 0x7F;
    }
}

std::string Escape(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        if (NeedsEscape(c)) {
            out.push_back('%');
            AppendHex(out, static_cast<unsigned char>(c), 2);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

} // namespace

std::optional<std::string> UserRuntimeDirectory() {
    const std::optional<std::wstring> base = LocalAppData();
    if (!base) {
        errno = ENOENT;
        return std::nullopt;
    }
    const std::wstring folder = *base + L"\\qarn";
    if (!EnsurePrivateFolder(folder))
        return std::nullopt;
    return WideToUtf8(folder);
}

std::string RuntimeEntryName(std::string_view prefix, std::string_view name,
                             std::string_view suffix, size_t maxLength) {
    const std::string escaped = Escape(name);
    const size_t fixed = prefix.size() + suffix.size();
    if (fixed + escaped.size() <= maxLength)
        return std::string(prefix) + escaped + std::string(suffix);
    constexpr size_t kHashLength = 1 + 16; // '~' and the digits
    if (fixed + kHashLength > maxLength)
        return {};
    std::string result(prefix);
    result += escaped.substr(0, maxLength - fixed - kHashLength);
    result.push_back('~');
    AppendHex(result, Fnv1a(escaped), 16);
    result += suffix;
    return result;
}

} // namespace qarn::platform
