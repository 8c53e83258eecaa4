#include "ipc/CMailslot.h"

#include "ipc/CMailslotS.h"
#include "ipc/CMailslotWriter.h"
#include "ipc/MailslotFolder.h"
#include "net/MsgBytes.h"
#include "platform/TextCodec.h"
#include "support/LogCapture.h"
#include "unit/ipc/IpcTestSupport.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace qarn {
namespace {

CMsg Numbered(int number) {
    CMsg msg;
    msg.text = u"D" + platform::Utf8ToUtf16(std::to_string(number));
    msg.data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8)};
    return msg;
}

// Sends raw bytes to a mailslot as one datagram, as a process that writes no record would.
void SendRaw(const std::string& path, const std::vector<uint8_t>& bytes) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address),
                     sizeof address),
              static_cast<ssize_t>(bytes.size()));
    close(fd);
}

class MailslotTest : public ::testing::Test {
  protected:
    test::ScopedMailslotFolder m_folder;
};

// The system keeps only a few datagrams waiting in one socket (net.unix.max_dgram_qlen, 10 on
// Debian): a writer waits for room while the worker drains, and nothing is lost when far more
// messages come than one step of the worker takes.
TEST_F(MailslotTest, ManyMessagesArriveWholeAndInOrder) {
    CMsgQueue queue;
    CMailslot slot;
    ASSERT_TRUE(slot.Open(false, "QCS_192.0.2.1_58004", &queue, 0));
    EXPECT_EQ(slot.GetSlotPath(), (m_folder.Path() / "QCS_192.0.2.1_58004.slot").string());
    CMailslotWriter writer;
    constexpr int kCount = 3 * CMailslot::kMessagesPerStep + 5;
    for (int i = 0; i < kCount; ++i)
        ASSERT_EQ(writer.Send("QCS_192.0.2.1_58004", Numbered(i)), 0) << i;
    std::vector<std::unique_ptr<CMsg>> got;
    test::WaitUntil([&] {
        while (auto msg = queue.Pop())
            got.push_back(std::move(msg));
        return got.size() >= static_cast<size_t>(kCount);
    });
    ASSERT_EQ(got.size(), static_cast<size_t>(kCount));
    for (int i = 0; i < kCount; ++i)
        EXPECT_EQ(*got[static_cast<size_t>(i)], Numbered(i)) << i;
}

TEST_F(MailslotTest, UndecodableMessageIsLoggedAndTheNextOneStillArrives) {
    test::LogCapture log;
    CMsgQueue queue;
    CMailslot slot;
    ASSERT_TRUE(slot.Open(false, "slot", &queue, 0));
    SendRaw(slot.GetSlotPath(), {1, 2, 3, 4, 5, 6, 7});
    CMailslotWriter writer;
    ASSERT_EQ(writer.Send("slot", Numbered(7)), 0);
    std::unique_ptr<CMsg> msg;
    ASSERT_TRUE(test::WaitUntil([&] { return (msg = queue.Pop()) != nullptr; }));
    EXPECT_EQ(*msg, Numbered(7));
    EXPECT_EQ(test::CountOf(log.Text(), "CMailslot::TimeoutThread: ID:'slot' Deserialize "
                                        "CMsg:Error (ArrayLen:7 bytes)"),
              1u)
        << log.Text();
}

TEST_F(MailslotTest, IdHeldByALiveMailslotIsRefusedAndALeftoverIsReplaced) {
    test::LogCapture log;
    CMailslot first;
    ASSERT_TRUE(first.Open(false, "held", nullptr, 0));
    CMailslot second;
    EXPECT_FALSE(second.Open(false, "held", nullptr, 0));
    EXPECT_EQ(second.GetLastError(), EEXIST);
    EXPECT_EQ(test::CountOf(log.Text(), "CMailslot::Open: ID:'held' Error:0x11 'File exists'"), 1u)
        << log.Text();
    EXPECT_TRUE(first.IsHandleValid());

    // A socket file whose process is gone.
    const std::string leftover = MailslotPath(m_folder.Path().string(), "leftover");
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, leftover.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
    CMsgQueue queue;
    CMailslot replacing;
    ASSERT_TRUE(replacing.Open(false, "leftover", &queue, 0));
    CMailslotWriter writer;
    EXPECT_EQ(writer.Send("leftover", Numbered(1)), 0);
    EXPECT_TRUE(test::WaitUntil([&] { return queue.Pop() != nullptr; }));

    replacing.Close();
    struct stat info {};
    EXPECT_NE(lstat(leftover.c_str(), &info), 0) << "Close removes the socket";
    EXPECT_EQ(writer.Send("leftover", Numbered(2)), ENOENT);
}

TEST_F(MailslotTest, OverrideTakesMessagesBeforeTheQueue) {
    struct Taking : CMailslot {
        std::atomic<int> taken{0};
        bool OnMessage(std::unique_ptr<CMsg>& msg) override {
            if (msg->text.front() != u'T')
                return false;
            ++taken;
            return true;
        }
        ~Taking() override { Close(); }
    };
    CMsgQueue queue;
    Taking slot;
    ASSERT_TRUE(slot.Open(false, "taking", &queue, 0));
    CMailslotWriter writer;
    CMsg taken;
    taken.text = u"T";
    ASSERT_EQ(writer.Send("taking", taken), 0);
    ASSERT_EQ(writer.Send("taking", Numbered(3)), 0);
    std::unique_ptr<CMsg> msg;
    ASSERT_TRUE(test::WaitUntil([&] { return (msg = queue.Pop()) != nullptr; }));
    EXPECT_EQ(*msg, Numbered(3));
    EXPECT_EQ(slot.taken.load(), 1);
}

TEST_F(MailslotTest, SharedQueueEndpointCarriesRecordsToItsCreator) {
    test::LogCapture log;
    const std::string id = test::UniqueQueueId("endpoint");
    CMsgQueue received;
    CMailslotS service;
    ASSERT_TRUE(service.Create(id, &received, 0, std::nullopt, 1));
    CMailslotS client;
    ASSERT_TRUE(client.Open(false, id, nullptr));
    CMsg msg = Numbered(5);
    ASSERT_TRUE(client.SendMsg(u"S", u"QCS_x", msg));
    std::unique_ptr<CMsg> got;
    ASSERT_TRUE(test::WaitUntil([&] { return (got = received.Pop()) != nullptr; }));
    EXPECT_EQ(got->text, u"SQCS_x");
    EXPECT_EQ(got->data, msg.data);

    // The creator removes the queue: the next send fails at its first step and says so.
    service.Close();
    EXPECT_FALSE(client.SendMsg(u"S", u"QCS_x", msg));
    EXPECT_EQ(test::CountOf(log.Text(),
                            "CMailslotS::SendMsg: ID:'" + id + "' CSharedQueue::IsOpen:Error"),
              1u)
        << log.Text();
    CMailslotS late;
    EXPECT_FALSE(late.Open(false, id, nullptr));
    EXPECT_EQ(
        test::CountOf(log.Text(), "CMailslotS::Open: ID:'" + id + "' CSharedQueue::Open:Error"),
        1u);
}

TEST_F(MailslotTest, CreatorDropsUndecodableRecordsAndReadsOn) {
    test::LogCapture log;
    const std::string id = test::UniqueQueueId("records");
    CMsgQueue received;
    CMailslotS service;
    ASSERT_TRUE(service.Create(id, &received, 0, std::nullopt, 1));
    CSharedQueue raw;
    ASSERT_TRUE(raw.Open(false, id, 0));
    ASSERT_TRUE(raw.Write(std::vector<uint8_t>{0x0A, 0, 0, 0, 1, 2, 3}));
    std::vector<uint8_t> good;
    ASSERT_TRUE(MsgToBytes(Numbered(9), good));
    ASSERT_TRUE(raw.Write(good));
    std::unique_ptr<CMsg> got;
    ASSERT_TRUE(test::WaitUntil([&] { return (got = received.Pop()) != nullptr; }));
    EXPECT_EQ(*got, Numbered(9));
    EXPECT_EQ(test::CountOf(log.Text(), "CMailslotS::TimeoutThread: ID:'" + id +
                                            "' Deserialize CMsg:Error (ArrayLen:7 bytes)"),
              1u)
        << log.Text();
}

} // namespace
} // namespace qarn
