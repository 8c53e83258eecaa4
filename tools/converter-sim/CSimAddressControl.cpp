#include "CSimAddressControl.h"

#include "SimText.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qarn::sim {

namespace {

std::string NamespaceOf(const char* path) {
    char target[128];
    const ssize_t size = readlink(path, target, sizeof target - 1);
    return size > 0 ? std::string(target, static_cast<size_t>(size)) : std::string();
}

// Reads the child's output until it closes the pipe or the deadline passes.
bool ReadUntilClosed(int fd, std::string* output, std::chrono::steady_clock::time_point deadline) {
    char buffer[512];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t size = read(fd, buffer, sizeof buffer);
        if (size < 0 && errno == EINTR)
            continue;
        if (size <= 0)
            return true;
        output->append(buffer, static_cast<size_t>(size));
    }
}

// A program name without a slash is looked up in PATH and then in the system folders, where `ip`
// lives but an ordinary user's PATH may not reach. Empty when nothing executable is found.
std::string ResolveProgram(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char* path = std::getenv("PATH");
    std::istringstream folders(std::string(path != nullptr ? path : "") +
                               ":/usr/sbin:/sbin:/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

} // namespace

CSimAddressControl::CSimAddressControl(Mode mode, std::string testlanPath)
    : m_mode(mode), m_testlan(std::move(testlanPath)) {}

// Process 1's namespace cannot always be read (in a container without CAP_SYS_PTRACE readlink gets
// EACCES); the kernel's first network namespace, the machine's, then gives itself away by its fixed
// inode number.
bool CSimAddressControl::InOwnNetNamespace() {
    const std::string mine = NamespaceOf("/proc/self/ns/net");
    if (mine.empty())
        return false;
    const std::string machine = NamespaceOf("/proc/1/ns/net");
    if (!machine.empty())
        return mine != machine;
    constexpr ino_t kMachineNetNamespaceInode = 4026531833u;
    struct stat self {};
    return stat("/proc/self/ns/net", &self) == 0 && self.st_ino != kMachineNetNamespaceInode;
}

int CSimAddressControl::Run(const std::vector<std::string>& argv, std::string* output) {
    const std::string program = argv.empty() ? std::string() : ResolveProgram(argv[0]);
    int fds[2];
    if (program.empty() || pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    // The simulator blocks the signals it takes through a signalfd; the command must not inherit
    // that mask.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(fds[1]);
    std::string text;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kCommandTimeoutMs);
    const bool closed = spawned == 0 && ReadUntilClosed(fds[0], &text, deadline);
    close(fds[0]);
    if (output != nullptr)
        *output = text;
    if (spawned != 0)
        return -1;
    if (!closed)
        kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return closed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool CSimAddressControl::RunOk(const std::vector<std::string>& argv, std::string* why) const {
    std::string output;
    const int status = Run(argv, &output);
    if (status == 0)
        return true;
    std::string line;
    for (const auto& arg : argv)
        line += (line.empty() ? "" : " ") + arg;
    while (!output.empty() && output.back() == '\n')
        output.pop_back();
    *why = "'" + line + "' exited with " + std::to_string(status) + ": " + output;
    return false;
}

// `ip -o -4 addr show to A/32` prints one line for the address, e.g.
// "2: veth1    inet 198.18.1.1/16 brd 198.18.255.255 scope global veth1 ..." -> veth1, 16.
bool CSimAddressControl::Locate(uint32_t ip, Place* place, std::string* why) const {
    std::string output;
    const std::string address = IpText(ip);
    if (Run({"ip", "-o", "-4", "addr", "show", "to", address + "/32"}, &output) != 0) {
        *why = "ip addr show: " + output;
        return false;
    }
    std::istringstream line(output);
    std::string index, device, family, cidr;
    line >> index >> device >> family >> cidr;
    const size_t slash = cidr.find('/');
    if (family != "inet" || slash == std::string::npos || cidr.substr(0, slash) != address) {
        *why = address + " is not assigned here";
        return false;
    }
    place->device = device;
    place->prefix = std::atoi(cidr.c_str() + slash + 1);
    return true;
}

bool CSimAddressControl::Move(uint32_t from, uint32_t to, std::string* why) {
    if (m_mode == Mode::Testlan)
        return RunOk({m_testlan, "move-address", IpText(from), IpText(to)}, why);
    Place place;
    if (!Locate(from, &place, why))
        return false;
    const std::string prefix = "/" + std::to_string(place.prefix);
    return RunOk({"ip", "addr", "del", IpText(from) + prefix, "dev", place.device}, why) &&
           RunOk({"ip", "addr", "add", IpText(to) + prefix, "brd", "+", "dev", place.device}, why);
}

bool CSimAddressControl::Remove(uint32_t ip, std::string* why) {
    if (m_mode == Mode::Testlan)
        return RunOk({m_testlan, "del-address", IpText(ip)}, why);
    Place place;
    if (!Locate(ip, &place, why))
        return false;
    if (!RunOk({"ip", "addr", "del", IpText(ip) + "/" + std::to_string(place.prefix), "dev",
                place.device},
               why))
        return false;
    m_removed[ip] = place;
    return true;
}

bool CSimAddressControl::Add(uint32_t ip, std::string* why) {
    if (m_mode == Mode::Testlan)
        return RunOk({m_testlan, "add-address", IpText(ip)}, why);
    const auto it = m_removed.find(ip);
    if (it == m_removed.end()) {
        *why = IpText(ip) + " was not removed by the simulator";
        return false;
    }
    const Place place = it->second;
    m_removed.erase(it);
    return RunOk({"ip", "addr", "add", IpText(ip) + "/" + std::to_string(place.prefix), "brd", "+",
                  "dev", place.device},
                 why);
}

} // namespace qarn::sim
