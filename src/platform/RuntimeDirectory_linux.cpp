#include "platform/NameHash.h"
#include "platform/RuntimeDirectory.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace qarn::platform {

namespace {

// The per-user folder of the session, when the variable names one that is really ours; a folder
// of another user (an inherited environment after su, say) is not a place for our locks.
std::optional<std::string> SessionRuntimeBase() {
    const char* value = std::getenv("XDG_RUNTIME_DIR");
    if (value == nullptr || value[0] != '/')
        return std::nullopt;
    std::string base(value);
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    struct stat info {};
    if (stat(base.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid())
        return std::nullopt;
    return base;
}

// Makes `path` (mode 0700) unless it exists, then accepts it only as a real folder of this user
// that nobody else may enter: in a shared /tmp another user may have made it first to catch our
// locks and sockets.
bool EnsurePrivateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return false;
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
        errno = EPERM;
        return false;
    }
    return true;
}

std::string Escape(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '%' || byte < 0x20 || byte == 0x7F) {
            out.push_back('%');
            AppendHex(out, byte, 2);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

} // namespace

std::optional<std::string> UserRuntimeDirectory() {
    std::string folder;
    if (auto base = SessionRuntimeBase())
        folder = *base + "/qarn";
    else
        folder = "/tmp/qarn-" + std::to_string(geteuid());
    if (!EnsurePrivateFolder(folder))
        return std::nullopt;
    return folder;
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
