#include "ipc/MailslotFolder.h"

#include "platform/RuntimeDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace qarn {

namespace {

constexpr char kFolderVariable[] = "QARN_MAILSLOT_DIR";

bool SafeSharedFolder(const std::string& folder) {
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0)
        return false;
    if (!S_ISDIR(info.st_mode) || (info.st_uid != geteuid() && info.st_uid != 0) ||
        (info.st_mode & S_IWOTH) != 0) {
        errno = EPERM;
        return false;
    }
    return true;
}

} // namespace

std::optional<std::string> MailslotFolder() {
    if (const char* named = std::getenv(kFolderVariable); named != nullptr && named[0] != '\0') {
        std::string folder(named);
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        if (folder.front() != '/') {
            errno = EINVAL;
            return std::nullopt;
        }
        if (!SafeSharedFolder(folder))
            return std::nullopt;
        return folder;
    }
    const std::optional<std::string> base = platform::UserRuntimeDirectory();
    if (!base)
        return std::nullopt;
    const std::string folder = *base + "/mailslot";
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return std::nullopt;
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0)
        return std::nullopt;
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
        errno = EPERM;
        return std::nullopt;
    }
    return folder;
}

std::string MailslotPath(const std::string& folder, const std::string& id) {
    constexpr size_t kRoom = sizeof(sockaddr_un::sun_path) - 1; // the path ends in a zero byte
    if (folder.size() + 1 >= kRoom)
        return {};
    const std::string name = platform::RuntimeEntryName("", id, ".slot", kRoom - folder.size() - 1);
    if (name.empty())
        return {};
    return folder + "/" + name;
}

} // namespace qarn
