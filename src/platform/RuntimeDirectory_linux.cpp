#include "platform/NameHash.h"
#include "platform/RuntimeDirectory.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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
bool EnsurePrivateFolder(const std::string& path, std::string* problem) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        if (problem != nullptr)
            *problem = "cannot make " + path + ": " + std::strerror(errno);
        return false;
    }
    return IsPrivateFolder(path, problem);
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

std::string DescribeUser(std::uint32_t uid) {
    const std::string number = "uid " + std::to_string(uid);
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr)
        return std::string(found->pw_name) + " (" + number + ")";
    return number;
}

bool IsPrivateFolder(const std::string& path, std::string* problem) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        if (problem != nullptr)
            *problem = path + ": " + std::strerror(errno);
        return false;
    }
    std::string why;
    if (info.st_uid != geteuid())
        why = path + " belongs to " + DescribeUser(info.st_uid) + ", not to this user";
    else if (!S_ISDIR(info.st_mode))
        why = path + " is not a folder";
    else if ((info.st_mode & 077) != 0)
        why = path + " is open to other users";
    if (why.empty())
        return true;
    if (problem != nullptr)
        *problem = why;
    errno = EPERM;
    return false;
}

std::optional<std::string> UserRuntimeDirectory(std::string* problem) {
    std::string folder;
    if (auto base = SessionRuntimeBase())
        folder = *base + "/qarn";
    else
        folder = "/tmp/qarn-" + std::to_string(geteuid());
    if (!EnsurePrivateFolder(folder, problem))
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
