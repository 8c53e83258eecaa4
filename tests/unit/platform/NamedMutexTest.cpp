#include "platform/NamedMutex.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <limits.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

// The thread sanitizer reports an unlock by a thread that is no owner before the call can fail
// as it should; those checks are left out there.
#if defined(__SANITIZE_THREAD__)
#define QARN_UNDER_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QARN_UNDER_THREAD_SANITIZER 1
#endif
#endif

namespace qarn::platform {
namespace {

using Result = NamedMutex::CreateResult;
using Lock = NamedMutex::LockResult;

// A name of its own per test and run, so that parallel test processes never share a mutex.
std::string UniqueName(const char* what) {
    static std::atomic<int> counter{0};
    return std::string("Global\\qarn-test-") + what + "-" + std::to_string(getpid()) + "-" +
           std::to_string(counter.fetch_add(1));
}

// Runs `body` in a forked child that ends with its result as exit code, never returning into the
// test framework.
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

// One-byte messages between parent and child; a closed end reads as "no message" so that a
// failing side never leaves the other waiting for ever.
class Pipe {
  public:
    Pipe() {
        if (pipe(m_fds) != 0)
            m_fds[0] = m_fds[1] = -1;
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void Send() {
        const char c = 1;
        (void)!write(m_fds[1], &c, 1);
    }
    bool Receive() {
        char c = 0;
        return read(m_fds[0], &c, 1) == 1;
    }
    void CloseRead() { CloseEnd(0); }
    void CloseWrite() { CloseEnd(1); }

  private:
    void CloseEnd(int end) {
        if (m_fds[end] >= 0)
            close(m_fds[end]);
        m_fds[end] = -1;
    }
    int m_fds[2];
};

bool SegmentExists(const std::string& name) {
    struct stat info {};
    return stat(("/dev/shm" + NamedMutex::SegmentName(name)).c_str(), &info) == 0;
}

TEST(NamedMutexTest, SegmentNamesAreValidAndKeepNamesApart) {
    struct Row {
        const char* label;
        std::string name;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"backslash", "Global\\tool.exe", "/qarn-mutex-Global_tool.exe"},
        {"underscore", "Global_tool.exe", "/qarn-mutex-Global%5Ftool.exe"},
        {"slash", "a/b", "/qarn-mutex-a%2Fb"},
        {"percent", "a%5Fb", "/qarn-mutex-a%255Fb"},
        {"control byte", std::string("a\nb\0c", 5), "/qarn-mutex-a%0Ab%00c"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(NamedMutex::SegmentName(row.name), row.expected);
    }

    const std::string longA(400, 'a');
    const std::string longB = longA + "b";
    const std::string segA = NamedMutex::SegmentName(longA);
    const std::string segB = NamedMutex::SegmentName(longB);
    EXPECT_LE(segA.size(), static_cast<size_t>(NAME_MAX) + 1);
    EXPECT_LE(segB.size(), static_cast<size_t>(NAME_MAX) + 1);
    EXPECT_NE(segA, segB);
}

TEST(NamedMutexTest, AlreadyExistsOnlyWhileAnotherHolderLives) {
    const std::string name = UniqueName("exists");
    NamedMutex first;
    ASSERT_EQ(first.Create(name), Result::Created);

    NamedMutex second; // another holder in this process counts as well
    EXPECT_EQ(second.Create(name), Result::AlreadyExists);
    second.Close();

    const pid_t joiner = Spawn([&] {
        NamedMutex m;
        return m.Create(name) == Result::AlreadyExists ? 0 : 1;
    });
    EXPECT_EQ(ExitCodeOf(joiner), 0) << "a second process must find the living mutex";

    ASSERT_TRUE(first.Close());
    EXPECT_FALSE(SegmentExists(name)) << "the last holder removes the name";

    // A holder that dies without closing leaves its segment behind; that alone is no holder.
    const pid_t crasher = Spawn([&] {
        NamedMutex m;
        if (m.Create(name) != Result::Created || m.TimedLock(100) != Lock::Acquired)
            return 1;
        _exit(0);
    });
    ASSERT_EQ(ExitCodeOf(crasher), 0);
    ASSERT_TRUE(SegmentExists(name));
    NamedMutex later;
    EXPECT_EQ(later.Create(name), Result::Created);
    // Made afresh, so the dead holder's lock is gone rather than reported as abandoned.
    EXPECT_EQ(later.TimedLock(100), Lock::Acquired);
    EXPECT_TRUE(later.Unlock());
}

TEST(NamedMutexTest, OwnerProcessDyingAbandonsTheMutexToTheNextAcquirer) {
    const std::string name = UniqueName("abandoned");
    NamedMutex mutex;
    ASSERT_EQ(mutex.Create(name), Result::Created);

    const pid_t holder = Spawn([&] {
        NamedMutex own;
        if (own.Create(name) != Result::AlreadyExists || own.TimedLock(1000) != Lock::Acquired)
            return 1;
        _exit(0); // dies as owner
    });
    ASSERT_EQ(ExitCodeOf(holder), 0);

    EXPECT_EQ(mutex.TimedLock(1000), Lock::Abandoned);
    EXPECT_TRUE(mutex.Unlock());
    // Taken over for good: the next acquisition is an ordinary one.
    EXPECT_EQ(mutex.TimedLock(1000), Lock::Acquired);
    EXPECT_TRUE(mutex.Unlock());
}

TEST(NamedMutexTest, TimesOutWhileAnotherProcessHoldsIt) {
    const std::string name = UniqueName("timeout");
    NamedMutex mutex;
    ASSERT_EQ(mutex.Create(name), Result::Created);
    Pipe locked;
    Pipe release;
    const pid_t holder = Spawn([&] {
        locked.CloseRead();
        release.CloseWrite();
        NamedMutex own;
        if (own.Create(name) != Result::AlreadyExists || own.TimedLock(1000) != Lock::Acquired)
            return 1;
        locked.Send();
        release.Receive();
        return own.Unlock() ? 0 : 2;
    });
    locked.CloseWrite();
    release.CloseRead();
    ASSERT_TRUE(locked.Receive());

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(mutex.TimedLock(50), Lock::Timeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45))
        << "gave up before the time-out";

    release.Send();
    EXPECT_EQ(mutex.TimedLock(5000), Lock::Acquired);
    EXPECT_TRUE(mutex.Unlock());
    EXPECT_EQ(ExitCodeOf(holder), 0);
}

TEST(NamedMutexTest, IsRecursiveForTheOwningThreadAndOnlyItsOwnerMayUnlock) {
    const std::string name = UniqueName("recursive");
    NamedMutex mutex;
    ASSERT_EQ(mutex.Create(name), Result::Created);
    ASSERT_EQ(mutex.TimedLock(100), Lock::Acquired);
    ASSERT_EQ(mutex.TimedLock(100), Lock::Acquired);

#if !defined(QARN_UNDER_THREAD_SANITIZER)
    bool strangerUnlocked = true;
    int strangerError = 0;
    std::thread stranger([&] {
        strangerUnlocked = mutex.Unlock();
        strangerError = errno;
    });
    stranger.join();
    EXPECT_FALSE(strangerUnlocked);
    EXPECT_EQ(strangerError, EPERM);
#endif

    auto otherProcessLocks = [&] {
        const pid_t child = Spawn([&] {
            NamedMutex own;
            own.Create(name);
            const Lock result = own.TimedLock(20);
            if (result == Lock::Acquired)
                own.Unlock();
            return result == Lock::Acquired ? 0 : 1;
        });
        return ExitCodeOf(child) == 0;
    };
    ASSERT_TRUE(mutex.Unlock());
    EXPECT_FALSE(otherProcessLocks()) << "one unlock of two must keep ownership";
    ASSERT_TRUE(mutex.Unlock());
    EXPECT_TRUE(otherProcessLocks());
#if !defined(QARN_UNDER_THREAD_SANITIZER)
    EXPECT_FALSE(mutex.Unlock()) << "not owned any more";
#endif
}

TEST(NamedMutexTest, ProcessesCreatingAtOnceShareOneMutex) {
    const std::string name = UniqueName("race");
    // A counter incremented in two separate steps: lost updates show two different mutexes.
    auto* counter = static_cast<volatile int*>(
        mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(counter, MAP_FAILED);
    *counter = 0;
    constexpr int kProcesses = 4;
    constexpr int kRounds = 200;
    Pipe start;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        children.push_back(Spawn([&] {
            start.CloseWrite();
            start.Receive(); // all start creating at the same moment
            NamedMutex own;
            if (own.Create(name) == Result::Failed)
                return 1;
            for (int k = 0; k < kRounds; ++k) {
                if (own.TimedLock(5000) != Lock::Acquired)
                    return 2;
                const int seen = *counter;
                sched_yield();
                *counter = seen + 1;
                own.Unlock();
            }
            return 0;
        }));
    }
    start.CloseRead();
    start.CloseWrite(); // end of file releases every child at once
    for (const pid_t child : children)
        EXPECT_EQ(ExitCodeOf(child), 0);
    EXPECT_EQ(*counter, kProcesses * kRounds);
    EXPECT_FALSE(SegmentExists(name));
    munmap(const_cast<int*>(counter), sizeof(int));
}

TEST(NamedMutexTest, SegmentIsSharedWithEveryUserWhateverTheUmask) {
    const std::string name = UniqueName("mode");
    const mode_t old = umask(077);
    NamedMutex mutex;
    const Result created = mutex.Create(name);
    umask(old);
    ASSERT_EQ(created, Result::Created);
    struct stat info {};
    ASSERT_EQ(stat(("/dev/shm" + NamedMutex::SegmentName(name)).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u);
}

TEST(NamedMutexTest, ClosedMutexFailsEveryOperation) {
    NamedMutex mutex;
    EXPECT_EQ(mutex.TimedLock(0), Lock::Failed);
    EXPECT_FALSE(mutex.Unlock());
    EXPECT_TRUE(mutex.Close());
    EXPECT_FALSE(mutex.IsOpen());
}

} // namespace
} // namespace qarn::platform
