#include "ipc/MailslotFolder.h"

#include "platform/RuntimeDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace qarn {

namespace {

constexpr char kFolderVariable[] = "QARN_MAILSLOT_DIR";

bool SafeSharedFolder(const std::string& folder, std::string* problem) {
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0) {
        if (problem != nullptr)
            *problem = folder + ": " + std::strerror(errno);
        return false;
    }
    std::string why;
    if (!S_ISDIR(info.st_mode))
        why = folder + " is not a folder";
    else if (info.st_uid != geteuid() && info.st_uid != 0)
        why = folder + " belongs to " + platform::DescribeUser(info.st_uid);
    else if ((info.st_mode & S_IWOTH) != 0)
        why = folder + " may be written by every user";
    if (why.empty())
        return true;
    if (problem != nullptr)
        *problem = why;
    errno = EPERM;
    return false;
}

} // namespace

std::optional<std::string> MailslotFolder(std::string* problem) {
    if (const char* named = std::getenv(kFolderVariable); named != nullptr && named[0] != '\0') {
        std::string folder(named);
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        if (folder.front() != '/') {
            if (problem != nullptr)
                *problem = std::string(kFolderVariable) + " names no absolute folder";
            errno = EINVAL;
            return std::nullopt;
        }
        if (!SafeSharedFolder(folder, problem))
            return std::nullopt;
        return folder;
    }
    const std::optional<std::string> base = platform::UserRuntimeDirectory(problem);
    if (!base)
        return std::nullopt;
    const std::string folder = *base + "/mailslot";
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        if (problem != nullptr)
            *problem = "cannot make " + folder + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!platform::IsPrivateFolder(folder, problem))
        return std::nullopt;
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
