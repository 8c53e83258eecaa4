#include "platform/UdpPortHolder.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>

namespace qarn::platform {
namespace {

// The socket inodes bound to `port` in one of /proc/net/udp, /proc/net/udp6. A line reads
//   "  12: 00000000:E299 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000  0 123 ..."
// with the local address and port (hex) second and the inode tenth.
void CollectInodes(const char* table, uint16_t port, std::set<unsigned long>& inodes) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line); // headings
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
        unsigned long inode = 0;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode))
            continue;
        const size_t colon = local.rfind(':');
        if (colon == std::string::npos)
            continue;
        unsigned value = 0;
        const std::string_view hex(local.data() + colon + 1, local.size() - colon - 1);
        const auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
        if (error == std::errc() && end == hex.data() + hex.size() && value == port && inode != 0)
            inodes.insert(inode);
    }
}

} // namespace

std::string DescribeUdpPortHolder(uint16_t port) {
    std::set<unsigned long> inodes;
    CollectInodes("/proc/net/udp", port, inodes);
    CollectInodes("/proc/net/udp6", port, inodes);
    if (inodes.empty())
        return {};
    namespace fs = std::filesystem;
    std::error_code error;
    for (fs::directory_iterator process("/proc", error), end; !error && process != end;
         process.increment(error)) {
        const std::string pid = process->path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code fdError;
        for (fs::directory_iterator fd(process->path() / "fd", fdError), fdEnd;
             !fdError && fd != fdEnd; fd.increment(fdError)) {
            std::error_code linkError;
            const std::string target = fs::read_symlink(fd->path(), linkError).string();
            constexpr std::string_view kPrefix = "socket:[";
            if (linkError || target.size() <= kPrefix.size() + 1 ||
                target.compare(0, kPrefix.size(), kPrefix) != 0)
                continue;
            unsigned long inode = 0;
            const char* first = target.data() + kPrefix.size();
            if (std::from_chars(first, target.data() + target.size() - 1, inode).ec !=
                    std::errc() ||
                inodes.count(inode) == 0)
                continue;
            std::ifstream comm(process->path() / "comm");
            std::string name;
            std::getline(comm, name);
            return name.empty() ? "process " + pid : name + ", process " + pid;
        }
    }
    return {};
}

} // namespace qarn::platform
