#include "platform/FileMutex.h"

#include "support/TempDir.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace qarn::platform {
namespace {

using Open = FileMutex::OpenResult;
using Lock = FileMutex::LockResult;

constexpr uid_t kNobody = 65534;

// One-byte messages between parent and child; a closed end reads as "no message", so that a
// failing side never leaves the other waiting for ever.
class Pipe {
  public:
    Pipe() {
        if (pipe(m_fds) != 0)
            m_fds[0] = m_fds[1] = -1;
    }
    ~Pipe() {
        for (int fd : m_fds)
            if (fd >= 0)
                close(fd);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void Send(char c) { (void)!write(m_fds[1], &c, 1); }
    char Receive() {
        char c = 0;
        return read(m_fds[0], &c, 1) == 1 ? c : 0;
    }

  private:
    int m_fds[2];
};

// Runs `body` in a forked child that ends with its result as exit status.
pid_t Spawn(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    return pid;
}

int ExitCodeOf(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

class FileMutexTest : public ::testing::Test {
  protected:
    test::TempDir m_temp{"qarn-file-mutex"};
    std::string m_path = m_temp / "tool.exe.lock";
};

// Another process holds the lock: the wait ends at its time-out. The holder dies without letting
// go: the kernel lets go for it, and the next acquirer has the lock at once.
TEST_F(FileMutexTest, ExcludesOtherProcessesAndOutlivesNoDeadHolder) {
    Pipe ready;
    const pid_t holder = Spawn([&] {
        FileMutex mutex;
        if (mutex.Open(m_path) == Open::Failed || mutex.TimedLock(1000) != Lock::Acquired)
            return 1;
        ready.Send('L');
        pause(); // until killed
        return 0;
    });
    ASSERT_EQ(ready.Receive(), 'L');

    FileMutex mutex;
    EXPECT_EQ(mutex.Open(m_path), Open::AlreadyExists) << "the holder has it open";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(mutex.TimedLock(20), Lock::Timeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));

    kill(holder, SIGKILL);
    int status = 0;
    waitpid(holder, &status, 0);
    EXPECT_EQ(mutex.TimedLock(1000), Lock::Acquired) << "a dead holder lets go";
    EXPECT_TRUE(mutex.Unlock());

    EXPECT_TRUE(mutex.Close());
    EXPECT_EQ(mutex.Open(m_path), Open::Created) << "nobody else has it open any more";
    struct stat info {};
    ASSERT_EQ(stat(m_path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u) << "no other user may open it";
}

// Whatever another user could plant at the name is refused at once: the process neither writes
// through a link, nor waits on a FIFO, nor joins an object of another user.
TEST_F(FileMutexTest, OnlyARegularFileOfThisUserIsEverJoined) {
    const std::string victim = m_temp / "victim";
    std::ofstream(victim) << "keep";
    const bool root = geteuid() == 0;
    struct Row {
        const char* name;
        std::function<void()> plant;
        int error;
        bool needsRoot;
    };
    const Row rows[] = {
        {"link to a file", [&] { std::filesystem::create_symlink(victim, m_path); }, ELOOP, false},
        {"dangling link", [&] { std::filesystem::create_symlink(m_temp / "nowhere", m_path); },
         ELOOP, false},
        {"FIFO", [&] { mkfifo(m_path.c_str(), 0666); }, EINVAL, false},
        {"folder", [&] { std::filesystem::create_directory(m_path); }, EISDIR, false},
        {"another user's file",
         [&] {
             std::ofstream(m_path) << "";
             (void)!chown(m_path.c_str(), kNobody, kNobody);
         },
         EPERM, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsRoot && !root) {
            std::cout << "[ skipped  ] " << row.name << ": needs root to make a file of another "
                      << "user\n";
            continue;
        }
        std::filesystem::remove_all(m_path);
        row.plant();
        FileMutex mutex;
        errno = 0;
        EXPECT_EQ(mutex.Open(m_path), Open::Failed);
        EXPECT_EQ(errno, row.error);
        EXPECT_FALSE(mutex.IsOpen());
        EXPECT_EQ(mutex.TimedLock(0), Lock::Failed);
    }
    std::ifstream kept(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
    EXPECT_FALSE(std::filesystem::exists(m_temp / "nowhere"));
}

// The lock another user would need to hold to silence every other process's log lines: they
// cannot even open the file.
TEST_F(FileMutexTest, AnotherUserCannotOpenTheLockFile) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user (scripts/test runs as root)";
    FileMutex mutex;
    ASSERT_NE(mutex.Open(m_path), Open::Failed);
    std::filesystem::permissions(m_temp.Path(), std::filesystem::perms::all); // the folder is open
    const pid_t other = Spawn([&] {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
            return 2;
        const int fd = open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
        return fd < 0 && errno == EACCES ? 0 : 1;
    });
    EXPECT_EQ(ExitCodeOf(other), 0);
}

} // namespace
} // namespace qarn::platform
