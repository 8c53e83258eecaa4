#include "ipc/CSharedQueue.h"

#include "ipc/SharedRing.h"
#include "support/LogCapture.h"
#include "unit/ipc/IpcTestSupport.h"

#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::UniqueQueueId;
using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t size, uint8_t first) {
    Bytes bytes(size);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// A second, raw mapping of a queue's block, to look at and spoil its header as another process
// could.
class RawBlock {
  public:
    explicit RawBlock(const std::string& id) {
        const std::string segment = CSharedQueue::SegmentName("Global\\" + id);
        const int fd = shm_open(segment.c_str(), O_RDWR, 0);
        struct stat info {};
        if (fd >= 0 && fstat(fd, &info) == 0) {
            m_size = static_cast<size_t>(info.st_size);
            void* view = mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            m_view = view == MAP_FAILED ? nullptr : static_cast<uint8_t*>(view);
        }
        if (fd >= 0)
            close(fd);
    }
    ~RawBlock() {
        if (m_view != nullptr)
            munmap(m_view, m_size);
    }
    uint32_t Get(size_t offset) const {
        uint32_t value = 0;
        std::memcpy(&value, m_view + offset, 4);
        return value;
    }
    void Put(size_t offset, uint32_t value) { std::memcpy(m_view + offset, &value, 4); }
    bool Valid() const { return m_view != nullptr; }
    size_t Size() const { return m_size; }

  private:
    uint8_t* m_view = nullptr;
    size_t m_size = 0;
};

TEST(CSharedQueueTest, BlockSizeFollowsTheRequestWithinItsBounds) {
    struct Case {
        const char* name;
        uint32_t requested;
        uint32_t capacity;
    };
    for (const Case& c :
         {Case{"small request raised to 2048", 1000, 2024}, Case{"zero means 65536", 0, 65512},
          Case{"odd size rounded up to a multiple of 4", 4097, 4076}}) {
        SCOPED_TRACE(c.name);
        CSharedQueue queue;
        ASSERT_TRUE(queue.Open(true, UniqueQueueId("size"), c.requested));
        EXPECT_EQ(queue.GetCapacity(), c.capacity);
        RawBlock raw(UniqueQueueId("size"));
        ASSERT_TRUE(raw.Valid());
        EXPECT_EQ(raw.Size(), c.capacity + 24u);
        EXPECT_EQ(raw.Get(4), SharedRing::kMagic);
        EXPECT_EQ(raw.Get(8), c.capacity);
    }
}

// Ring edges, one queue each: what the header says afterwards and what is read back.
TEST(CSharedQueueTest, RingKeepsRecordsWholeAcrossItsEdges) {
    const std::string id = UniqueQueueId("ring");
    CSharedQueue writer;
    ASSERT_TRUE(writer.Open(true, id, 2048)); // capacity 2024
    CSharedQueue reader;
    ASSERT_TRUE(reader.Open(false, id, 0));
    RawBlock raw(id);
    ASSERT_TRUE(raw.Valid());
    Bytes out;

    // A 5-byte message occupies its length word, 5 bytes and 3 bytes of padding.
    ASSERT_TRUE(writer.Write(Pattern(5, 1)));
    EXPECT_EQ(raw.Get(20), 12u);
    EXPECT_EQ(raw.Get(16), 12u);
    ASSERT_TRUE(reader.Read(out));
    EXPECT_EQ(out, Pattern(5, 1));
    EXPECT_EQ(raw.Get(20), 0u);

    // From offset 12, a record of 4 + 2008 bytes ends exactly at the end of the ring.
    ASSERT_TRUE(writer.Write(Pattern(2008, 7)));
    EXPECT_EQ(raw.Get(16), 0u) << "write offset wrapped to 0";
    ASSERT_TRUE(reader.Read(out));
    EXPECT_EQ(out, Pattern(2008, 7));

    // Move both offsets to 2000, then a payload that crosses the end of the ring.
    ASSERT_TRUE(writer.Write(Pattern(1996, 0)));
    ASSERT_TRUE(reader.Read(out));
    ASSERT_EQ(raw.Get(12), 2000u);
    ASSERT_TRUE(writer.Write(Pattern(100, 3)));
    EXPECT_EQ(raw.Get(16), (2000u + 104u) % 2024u);
    ASSERT_TRUE(reader.Read(out));
    EXPECT_EQ(out, Pattern(100, 3));

    // Nothing waits: an empty array and true.
    ASSERT_TRUE(reader.Read(out));
    EXPECT_TRUE(out.empty());
}

TEST(CSharedQueueTest, FullRingDiscardsWhatDoesNotFitAndReportsSuccess) {
    test::LogCapture log;
    const std::string id = UniqueQueueId("full");
    CSharedQueue queue;
    ASSERT_TRUE(queue.Open(true, id, 2048)); // capacity 2024
    RawBlock raw(id);
    ASSERT_TRUE(queue.Write(Pattern(1000, 0))); // 1004 in use
    // 1004 + 4 + 1016 = 2024: fits exactly.
    ASSERT_TRUE(queue.Write(Pattern(1016, 1)));
    EXPECT_EQ(raw.Get(20), 2024u);
    Bytes out;
    ASSERT_TRUE(queue.Read(out));
    // 1004 free now; a record of 4 + 1004 bytes is four bytes too many after one more byte.
    ASSERT_TRUE(queue.Write(Pattern(1001, 2)));
    EXPECT_EQ(raw.Get(20), 1020u) << "discarded, nothing written";
    EXPECT_EQ(
        test::CountOf(log.Text(), "CSharedQueue::Write: ID:'Global\\" + id + "' Message discarded"),
        1u)
        << log.Text();
    ASSERT_TRUE(queue.Write(Pattern(1000, 2)));
    EXPECT_EQ(raw.Get(20), 2024u);
    ASSERT_TRUE(queue.Read(out));
    EXPECT_EQ(out, Pattern(1016, 1));
    ASSERT_TRUE(queue.Read(out));
    EXPECT_EQ(out, Pattern(1000, 2));
}

TEST(CSharedQueueTest, BlockWithoutTheMagicIsNoQueueAndSaysNothing) {
    test::LogCapture log;
    const std::string id = UniqueQueueId("magic");
    CSharedQueue creator;
    ASSERT_TRUE(creator.Open(true, id, 0));
    RawBlock(id).Put(4, 0xDEADBEAF);
    EXPECT_FALSE(creator.IsOpen());
    CSharedQueue opener;
    EXPECT_FALSE(opener.Open(false, id, 0));
    EXPECT_EQ(test::CountOf(log.Text(), "CSharedQueue"), 0u) << log.Text();
}

// Another writer of the block may write anything into its header; readers and writers neither
// crash nor run off the ring, empty it, and go on.
TEST(CSharedQueueTest, SpoiledHeaderEmptiesTheRingAndTheQueueGoesOn) {
    struct Case {
        const char* name;
        size_t offset;
        uint32_t value;
    };
    test::LogCapture log;
    for (const Case& c : {Case{"bytes in use beyond the capacity", 20, 0xFFFFFFF0},
                          Case{"read offset beyond the ring", 12, 0x7FFFFFFF},
                          Case{"write offset beyond the ring", 16, 4096},
                          Case{"record length beyond the bytes in use", 24, 0xFFFFFFFF},
                          Case{"capacity field grown", 8, 0x7FFFFFFF}}) {
        SCOPED_TRACE(c.name);
        const std::string id = UniqueQueueId("spoiled");
        CSharedQueue writer;
        ASSERT_TRUE(writer.Open(true, id, 2048));
        CSharedQueue reader;
        ASSERT_TRUE(reader.Open(false, id, 0));
        ASSERT_TRUE(writer.Write(Pattern(40, 9)));
        RawBlock(id).Put(c.offset, c.value);
        Bytes out;
        ASSERT_TRUE(reader.Read(out));
        if (c.offset == 8) {
            // The capacity was learned at open; the record is intact.
            EXPECT_EQ(out, Pattern(40, 9));
        } else {
            EXPECT_TRUE(out.empty());
        }
        ASSERT_TRUE(writer.Write(Pattern(8, 1)));
        ASSERT_TRUE(reader.Read(out));
        EXPECT_EQ(out, Pattern(8, 1));
    }
    EXPECT_GE(test::CountOf(log.Text(), "did not add up"), 4u) << log.Text();
}

TEST(CSharedQueueTest, WritersInTwoProcessesLoseNothing) {
    constexpr int kPerWriter = 2000;
    const std::string id = UniqueQueueId("writers");
    CSharedQueue reader;
    ASSERT_TRUE(reader.Open(true, id, 8192));
    std::vector<pid_t> children;
    for (uint8_t writer = 1; writer <= 2; ++writer) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CSharedQueue queue;
            if (!queue.Open(false, id, 0))
                _exit(2);
            RawBlock raw(id);
            for (int i = 0; i < kPerWriter;) {
                // Write only where it fits, so that nothing is discarded.
                if (raw.Get(20) + 16 > queue.GetCapacity()) {
                    usleep(100);
                    continue;
                }
                Bytes message{writer, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
                if (!queue.Write(message))
                    _exit(3);
                ++i;
            }
            _exit(0);
        }
        children.push_back(child);
    }
    int next[3] = {0, 0, 0};
    Bytes out;
    test::WaitUntil(
        [&] {
            while (reader.Read(out) && !out.empty()) {
                EXPECT_EQ(out.size(), 3u);
                const int number = out[1] | out[2] << 8;
                EXPECT_EQ(number, next[out[0]]) << "writer " << int(out[0]);
                next[out[0]] = number + 1;
            }
            return next[1] == kPerWriter && next[2] == kPerWriter;
        },
        std::chrono::seconds(30));
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(next[1], kPerWriter);
    EXPECT_EQ(next[2], kPerWriter);
}

TEST(CSharedQueueTest, OpenerRefusesBlocksOthersMayWriteAndBlocksWithoutCreator) {
    test::LogCapture log;
    {
        const std::string id = UniqueQueueId("mode");
        CSharedQueue creator;
        ASSERT_TRUE(creator.Open(true, id, 0));
        const std::string segment = CSharedQueue::SegmentName("Global\\" + id);
        struct stat info {};
        const int fd = shm_open(segment.c_str(), O_RDWR, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(fstat(fd, &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        ASSERT_EQ(fchmod(fd, 0666), 0);
        close(fd);
        CSharedQueue opener;
        EXPECT_FALSE(opener.Open(false, id, 0));
    }
    {
        // A creator that died leaves its block behind; nobody joins it, a new creator replaces it.
        const std::string id = UniqueQueueId("orphan");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            auto* leaked = new CSharedQueue; // never closed: the process just ends
            _exit(leaked->Open(true, id, 0) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        CSharedQueue opener;
        EXPECT_FALSE(opener.Open(false, id, 0));
        CSharedQueue creator;
        EXPECT_TRUE(creator.Open(true, id, 0));
        EXPECT_TRUE(opener.Open(false, id, 0));
    }
    {
        // A live creator keeps its block: a second creator is refused.
        const std::string id = UniqueQueueId("twice");
        CSharedQueue first;
        ASSERT_TRUE(first.Open(true, id, 0));
        CSharedQueue second;
        EXPECT_FALSE(second.Open(true, id, 0));
        EXPECT_TRUE(first.IsOpen());
    }
    EXPECT_EQ(test::CountOf(log.Text(), "OpenFileMapping:Error"), 2u) << log.Text();
    EXPECT_EQ(test::CountOf(log.Text(), "CreateFileMapping:Error"), 1u) << log.Text();
}

TEST(CSharedQueueTest, CreatorClosingEndsTheQueueForOpeners) {
    const std::string id = UniqueQueueId("closing");
    auto creator = std::make_unique<CSharedQueue>();
    ASSERT_TRUE(creator->Open(true, id, 0));
    CSharedQueue opener;
    ASSERT_TRUE(opener.Open(false, id, 0));
    creator.reset();
    EXPECT_FALSE(opener.IsOpen());
    EXPECT_FALSE(opener.Write(Pattern(4, 0)));
    CSharedQueue late;
    EXPECT_FALSE(late.Open(false, id, 0)) << "the name is gone";
}

// A lock word left set by a thread that no longer exists is taken over; one held by a live
// thread makes the writer give up after the bound instead of hanging.
TEST(CSharedQueueTest, LockOfAVanishedHolderIsTakenOverAndALiveOneTimesOut) {
    test::LogCapture log;
    const std::string id = UniqueQueueId("lock");
    CSharedQueue queue;
    ASSERT_TRUE(queue.Open(true, id, 0));
    RawBlock raw(id);

    const pid_t gone = fork();
    ASSERT_GE(gone, 0);
    if (gone == 0)
        _exit(0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    raw.Put(0, static_cast<uint32_t>(gone));
    EXPECT_TRUE(queue.Write(Pattern(4, 1)));
    EXPECT_EQ(raw.Get(20), 8u);
    EXPECT_EQ(raw.Get(0), 0u);

    const pid_t live = fork();
    ASSERT_GE(live, 0);
    if (live == 0) {
        pause();
        _exit(0);
    }
    raw.Put(0, static_cast<uint32_t>(live));
    CSharedQueue opener;
    ASSERT_TRUE(opener.Open(false, id, 0));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(opener.Write(Pattern(4, 2)));
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(CSharedQueue::kLockLimitMs));
    EXPECT_EQ(raw.Get(20), 8u);
    EXPECT_EQ(test::CountOf(log.Text(), "took over the lock"), 1u) << log.Text();
    EXPECT_EQ(test::CountOf(log.Text(), "CSharedQueue::Lock: ID:'Global\\" + id + "' held by"), 1u)
        << log.Text();

    // The creator reads for every user: a live holder past the limit does not stop it for good.
    Bytes out;
    EXPECT_TRUE(queue.Read(out));
    EXPECT_EQ(out, Pattern(4, 1));
    EXPECT_EQ(raw.Get(0), 0u);
    EXPECT_EQ(test::CountOf(log.Text(), "cleared the lock of " + std::to_string(live)), 1u)
        << log.Text();
    kill(live, SIGKILL);
    waitpid(live, nullptr, 0);
}

} // namespace
} // namespace qarn
