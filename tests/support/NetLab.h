#pragma once

// A network laboratory for tests that send datagrams, broadcasts or pings. Such tests never run in
// the machine's own network namespace: they make one of their own, build what they need in it
// with the usual tools, and throw it away when the process ends.
//
//     class EchoTest : public ::testing::Test {
//       protected:
//         void SetUp() override {
//             QARN_REQUIRE_NETLAB();              // fresh namespace or skip; before any thread
//             ASSERT_TRUE(m_peer.Create(&m_why)) << m_why;
//             ASSERT_TRUE(qarn::test::RunOk("ip route add 198.18.200.0/24 via " +
//                                           m_peer.PeerAddress()));
//             ASSERT_TRUE(m_peer.RunOk("ip addr add 198.18.200.1/24 dev lo"));
//         }
//         qarn::test::PeerNamespace m_peer{1}; // link 198.18.1.0/24: us .1, peer .2
//         std::string m_why;
//     };
//
// - EnterFreshNetNamespace moves the calling thread into a new, empty network namespace with only
//   lo up. As root it unshares the network namespace alone; otherwise, in a single-threaded
//   process, it also makes a user namespace (mapping the caller to root there) and a mount
//   namespace whose /run is an empty tmpfs, so that named peer namespaces work without touching
//   the machine's (the rest of the process sees that empty /run too). Threads
//   started afterwards, and programs started with Run, inherit the namespace. Each CTest entry is
//   a process of its own, so each test gets a namespace of its own.
// - InOwnNetNamespace is the check a test makes before it broadcasts or pings.
// - AllowPingSockets chooses whether ICMP datagram sockets or only raw ones can ping.
// - Run / RunOk start a shell command ("ip ...", "nft ...", "sysctl -w ...") in the calling
//   thread's namespace and keep its output for the failure message.
// - PeerNamespace is a second namespace joined to the test's by a veth pair, addresses from
//   198.18.0.0/15 (set aside for benchmark tests, never routed on the Internet): a router that
//   answers with ICMP errors (nft "reject with icmp type ...", routes of type unreachable or
//   prohibit), a host that answers echo, a UDP peer. Its name carries the process id and a
//   counter; the destructor deletes it.
// - AddDummy makes an interface with an address in the test's namespace that leads nowhere
//   (neighbour table entries, local addresses).
// - ScopedWithoutNetRaw takes CAP_NET_RAW from the calling thread for a while, so that code
//   which needs raw sockets meets the system as an ordinary user would.
// - ScopedDescriptorExhaustion uses up the process's file descriptors for a while, so that the
//   next socket() fails as it would on a system out of resources.
//
// Addresses in 198.18.0.0/15 are free to use by any test: every test has its own namespace.

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/capability.h>
#include <mutex>
#include <net/if.h>
#include <regex>
#include <sched.h>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace qarn::test {

namespace netlab_detail {

// Namespaces this process made itself: certainly not the machine's.
inline std::mutex& CreatedLock() {
    static std::mutex lock;
    return lock;
}
inline std::set<std::string>& Created() {
    static std::set<std::string> created;
    return created;
}

// "net:[4026532174]" for a namespace link; empty when it cannot be read.
inline std::string NamespaceId(const char* path) {
    char target[128];
    const ssize_t size = readlink(path, target, sizeof target - 1);
    return size > 0 ? std::string(target, static_cast<size_t>(size)) : std::string();
}

inline std::string ThreadNamespaceId() {
    return NamespaceId("/proc/thread-self/ns/net");
}

inline bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

inline int ThreadCount() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0)
            return std::atoi(line.c_str() + 8);
    return 0;
}

inline std::string ErrnoText(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

inline bool BringUpLoopback(std::string* why) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *why = ErrnoText("socket for lo", errno);
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (up) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        up = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (!up)
        *why = ErrnoText("bringing lo up", errno);
    close(fd);
    return up;
}

// Without root: a user namespace in which this process is root, holding a network namespace and a
// mount namespace. The mount namespace gets an empty /run/netns of its own, so that "ip netns"
// works and nothing of it reaches the machine.
inline bool EnterUserNamespace(int rootError, std::string* why) {
    if (ThreadCount() != 1) {
        *why = ErrnoText("unshare(CLONE_NEWNET)", rootError) +
               "; a user namespace needs a single-threaded process";
        return false;
    }
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS) != 0) {
        *why = ErrnoText("unshare(CLONE_NEWNET)", rootError) + "; " +
               ErrnoText("unshare(CLONE_NEWUSER)", errno);
        return false;
    }
    if (!WriteText("/proc/self/setgroups", "deny") ||
        !WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
        *why = "writing the user namespace's id maps failed";
        return false;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
        *why = ErrnoText("private /run for named namespaces", errno);
        return false;
    }
    return true;
}

inline std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace netlab_detail

// True when the calling thread's network namespace is not the machine's: it differs from that of
// process 1, or, where process 1 cannot be inspected (a container, another user namespace), it is
// one that EnterFreshNetNamespace made. False when it cannot be told.
inline bool InOwnNetNamespace() {
    const std::string mine = netlab_detail::ThreadNamespaceId();
    if (mine.empty())
        return false;
    const std::string machine = netlab_detail::NamespaceId("/proc/1/ns/net");
    if (!machine.empty())
        return mine != machine;
    std::lock_guard guard(netlab_detail::CreatedLock());
    return netlab_detail::Created().count(mine) != 0;
}

// Moves the calling thread into a new network namespace with lo up (see the top of this file).
// False with a one-line reason in `why` when neither way is open.
inline bool EnterFreshNetNamespace(std::string* why) {
    std::string ignored;
    if (why == nullptr)
        why = &ignored;
    if (unshare(CLONE_NEWNET) != 0 && !netlab_detail::EnterUserNamespace(errno, why))
        return false;
    if (!netlab_detail::BringUpLoopback(why))
        return false;
    const std::string id = netlab_detail::ThreadNamespaceId();
    if (id.empty()) {
        *why = "the new namespace cannot be identified";
        return false;
    }
    std::lock_guard guard(netlab_detail::CreatedLock());
    netlab_detail::Created().insert(id);
    return true;
}

// Runs `command` with /bin/sh -c in the calling thread's namespaces, the system folders added to
// PATH (ip, nft, sysctl). Returns the exit status (-1 when it could not run or was killed); the
// standard output and error go to `output` when given.
inline int Run(const std::string& command, std::string* output = nullptr) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    const std::string script = "PATH=\"$PATH:/usr/sbin:/sbin\"; " + command;
    std::vector<char*> arguments = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"),
                                    const_cast<char*>(script.c_str()), nullptr};
    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, "/bin/sh", &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string text;
    char buffer[512];
    ssize_t size = 0;
    while ((size = read(pipeFds[0], buffer, sizeof buffer)) > 0 || (size < 0 && errno == EINTR))
        if (size > 0)
            text.append(buffer, static_cast<size_t>(size));
    close(pipeFds[0]);
    if (output != nullptr)
        *output = text;
    if (spawned != 0)
        return -1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Run for ASSERT_TRUE / EXPECT_TRUE: a failure names the command, its status and its output.
inline ::testing::AssertionResult RunOk(const std::string& command) {
    std::string output;
    const int status = Run(command, &output);
    if (status == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "'" << command << "' exited with " << status << ": " << output;
}

// The packet count in the output of "nft list counter ..." or "nft reset counter ..."; -1 when
// the output holds none.
inline int CounterPackets(const std::string& listing) {
    std::smatch match;
    if (!std::regex_search(listing, match, std::regex(R"(packets (\d+))")))
        return -1;
    return std::stoi(match[1]);
}

// An interface `name` (at most 14 characters) with `addressWithPrefix` ("198.18.9.1/24"), up, that
// leads nowhere. It is one end of a veth pair whose other end, `name` + "p", is up in the same
// namespace without an address: unlike a dummy interface it resolves neighbours with ARP, as an
// Ethernet port does, and it needs no driver beyond the one peers need anyway.
inline ::testing::AssertionResult AddDummy(const std::string& name,
                                           const std::string& addressWithPrefix) {
    return RunOk("ip link add " + name + " type veth peer name " + name + "p && ip link set " +
                 name + "p up && ip addr add " + addressWithPrefix + " dev " + name +
                 " && ip link set " + name + " up");
}

// Lets this process's group open ICMP datagram ("ping") sockets in the calling thread's namespace,
// or lets no group do so (then only a raw socket can ping). The setting belongs to each network
// namespace and a fresh one lets no group. In a user namespace only the groups mapped there may be
// named, so "allowed" names just the process's own group, and "none" cannot be set again once
// changed there: make the "none" case first.
inline ::testing::AssertionResult AllowPingSockets(bool allow) {
    const std::string key = "net.ipv4.ping_group_range";
    const std::string group = std::to_string(getgid());
    if (allow)
        return RunOk("sysctl -qw " + key + "='" + group + " " + group + "'");
    // Already none when the range leaves our group out (an unmapped range reads as 65534 65534).
    return RunOk("sysctl -n " + key + " | awk -v g=" + group + " '{ exit !(g < $1 || g > $2) }'" +
                 " || sysctl -qw " + key + "='1 0'");
}

// A second namespace, "qarn-lab-<pid>-<n>", joined to the one of the thread that calls Create by
// a veth pair on the link 198.18.<subnet>.0/24: this side is .1 on LocalInterface(), the peer .2
// on "eth0". The peer has lo up and nothing else. Give each peer of one test its own subnet
// (0..255).
class PeerNamespace {
  public:
    explicit PeerNamespace(int subnet)
        : m_subnet("198.18." + std::to_string(subnet & 0xFF)),
          m_local("qlab" + std::to_string(subnet & 0xFF)) {
        static std::atomic<int> s_count{0};
        m_name = "qarn-lab-" + std::to_string(getpid()) + "-" + std::to_string(s_count++);
    }
    ~PeerNamespace() {
        if (m_created)
            test::Run("ip netns del " + m_name);
    }
    PeerNamespace(const PeerNamespace&) = delete;
    PeerNamespace& operator=(const PeerNamespace&) = delete;

    // Refuses to work from the machine's own namespace. False with the reason in `why`.
    bool Create(std::string* why) {
        if (!InOwnNetNamespace()) {
            *why = "not in a namespace of the test's own: enter one first";
            return false;
        }
        std::string output;
        if (test::Run("ip netns add " + m_name, &output) != 0) {
            *why = "ip netns add: " + output;
            return false;
        }
        m_created = true;
        const std::string setUp =
            "ip link add " + m_local + " type veth peer name eth0 netns " + m_name +
            " && ip addr add " + LocalAddress() + "/24 dev " + m_local + " && ip link set " +
            m_local + " up && ip netns exec " + m_name + " sh -c " +
            netlab_detail::ShellQuote("ip link set lo up && ip addr add " + PeerAddress() +
                                      "/24 dev eth0 && ip link set eth0 up");
        if (test::Run(setUp, &output) != 0) {
            *why = "joining the peer namespace: " + output;
            return false;
        }
        return true;
    }

    // Runs `command` with /bin/sh -c inside the peer namespace; as Run.
    int Run(const std::string& command, std::string* output = nullptr) const {
        return test::Run("ip netns exec " + m_name + " /bin/sh -c " +
                             netlab_detail::ShellQuote(command),
                         output);
    }
    ::testing::AssertionResult RunOk(const std::string& command) const {
        std::string output;
        const int status = Run(command, &output);
        if (status == 0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "'" << command << "' in " << m_name
                                             << " exited with " << status << ": " << output;
    }

    const std::string& Name() const { return m_name; }
    const std::string& LocalInterface() const { return m_local; }
    std::string LocalAddress() const { return m_subnet + ".1"; }
    std::string PeerAddress() const { return m_subnet + ".2"; }

  private:
    std::string m_subnet;
    std::string m_local;
    std::string m_name;
    bool m_created = false;
};

// While it lives, every file descriptor the process may open is taken, so the next socket() or
// open() fails with EMFILE. Restores the limit and frees them in the destructor.
class ScopedDescriptorExhaustion {
  public:
    ScopedDescriptorExhaustion() {
        if (getrlimit(RLIMIT_NOFILE, &m_saved) != 0)
            return;
        // Lower the limit to the lowest free descriptor, so only the holes below it need filling.
        const int next = dup(0);
        if (next < 0)
            return;
        close(next);
        rlimit lowered = m_saved;
        lowered.rlim_cur = static_cast<rlim_t>(next);
        if (setrlimit(RLIMIT_NOFILE, &lowered) != 0)
            return;
        m_lowered = true;
        int fd = -1;
        while ((fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0)
            m_held.push_back(fd);
    }
    ~ScopedDescriptorExhaustion() {
        for (const int fd : m_held)
            close(fd);
        if (m_lowered)
            setrlimit(RLIMIT_NOFILE, &m_saved);
    }
    ScopedDescriptorExhaustion(const ScopedDescriptorExhaustion&) = delete;
    ScopedDescriptorExhaustion& operator=(const ScopedDescriptorExhaustion&) = delete;

    bool Active() const { return m_lowered; }

  private:
    rlimit m_saved{};
    bool m_lowered = false;
    std::vector<int> m_held;
};

// While it lives, the calling thread lacks CAP_NET_RAW in its effective set (capabilities belong
// to each thread): raw sockets are refused with EPERM as for an ordinary user. Active() is false
// when the capability could not be taken, e.g. because the thread never had it.
class ScopedWithoutNetRaw {
  public:
    ScopedWithoutNetRaw() {
        if (syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        const uint32_t bit = 1u << (CAP_NET_RAW % 32);
        if ((m_saved[CAP_NET_RAW / 32].effective & bit) == 0)
            return;
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[CAP_NET_RAW / 32].effective &= ~bit;
        m_active = syscall(SYS_capset, &m_header, lowered) == 0;
    }
    ~ScopedWithoutNetRaw() {
        if (m_active)
            syscall(SYS_capset, &m_header, m_saved);
    }
    ScopedWithoutNetRaw(const ScopedWithoutNetRaw&) = delete;
    ScopedWithoutNetRaw& operator=(const ScopedWithoutNetRaw&) = delete;

    bool Active() const { return m_active; }

  private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_active = false;
};

} // namespace qarn::test

// First thing in a SetUp of a test that sends anything: a fresh network namespace, or the test is
// skipped. It never lets a test go on in the machine's own namespace.
#define QARN_REQUIRE_NETLAB()                                                                      \
    do {                                                                                           \
        std::string qarnNetlabWhy;                                                                 \
        if (!::qarn::test::EnterFreshNetNamespace(&qarnNetlabWhy))                                 \
            GTEST_SKIP() << "needs root or unprivileged user namespaces; run the tests as root ("  \
                         << qarnNetlabWhy << ")";                                                  \
        ASSERT_TRUE(::qarn::test::InOwnNetNamespace())                                             \
            << "entered a namespace but it is not told apart from the machine's";                  \
    } while (false)
