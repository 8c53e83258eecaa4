#include "platform/Console.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qarn::platform {

void PrepareConsoleOutput() {}

bool StandardOutputIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}

std::optional<int> TerminalRows() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0)
        return size.ws_row;
    return std::nullopt;
}

bool IsFolderOpenToEveryone(const std::string& folder) {
    struct stat info {};
    return stat(folder.c_str(), &info) == 0 && (info.st_mode & S_IWOTH) != 0 &&
           (info.st_mode & S_ISVTX) == 0;
}

} // namespace qarn::platform
