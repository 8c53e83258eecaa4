#include "ipc/CCommService.h"

#include "ipc/CqarnCommunicationClient.h"
#include "net/MsgBytes.h"
#include "support/LogCapture.h"
#include "unit/ipc/IpcTestSupport.h"
#include "unit/net/UdpTestPeer.h"

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::Ip;
using Bytes = std::vector<uint8_t>;

// The service driven on the test's thread, converters played by UDP peers on loopback addresses
// that share one port, clients in the same process.
class CommServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GT(m_first.Port(), 0);
        CommServiceOptions options;
        options.queueId = m_queueId;
        options.converterPort = m_first.Port();
        options.localPort = 0;
        m_service = std::make_unique<CCommService>(options);
        std::string why;
        ASSERT_TRUE(m_service->Start(&why)) << why;
    }

    std::unique_ptr<CqarnCommunicationClient> Connect(const char* converter, CMsgQueue& answers) {
        auto client = std::make_unique<CqarnCommunicationClient>();
        client->Client().SetServiceId(m_queueId);
        EXPECT_TRUE(client->Client().Open(&answers, Ip(converter), 50));
        return client;
    }

    // Runs the service until `done` holds (or 5 s pass).
    template <typename Predicate>
    bool Pump(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        return test::WaitUntil(
            [&] {
                m_service->RunOnce(2);
                return done();
            },
            limit);
    }

    std::unique_ptr<CMsg> PumpForAnswer(CMsgQueue& answers) {
        std::unique_ptr<CMsg> answer;
        Pump([&] { return (answer = answers.Pop()) != nullptr; });
        return answer;
    }

    test::ScopedMailslotFolder m_folder;
    std::string m_queueId = test::UniqueQueueId("service");
    test::UdpTestPeer m_first{"127.0.0.1", 0};
    test::UdpTestPeer m_second{"127.0.0.2", m_first.Port()};
    std::unique_ptr<CCommService> m_service;
};

TEST_F(CommServiceTest, CarriesDatagramsBothWaysAndKeepsConvertersApart) {
    CMsgQueue firstAnswers;
    CMsgQueue secondAnswers;
    auto first = Connect("127.0.0.1", firstAnswers);
    auto second = Connect("127.0.0.2", secondAnswers);
    ASSERT_TRUE(Pump([&] { return m_service->ConnectionCount() == 2; }));
    EXPECT_TRUE(m_service->EndpointOpen());

    const Bytes block{1, 0x1E, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 9, 9, 9, 9, 0xAB, 0xCD};
    ASSERT_TRUE(first->Client().Send(Ip("127.0.0.1"), block));
    test::Received received;
    ASSERT_TRUE(Pump([&] { return m_first.Receive(&received, 0); }));
    EXPECT_EQ(received.bytes, block) << "the converter gets the client's bytes unchanged";

    // Each converter's answer reaches only the client connected for it.
    const Bytes ack{1, 0x1E, 0x1F, 0, 7, 0};
    ASSERT_TRUE(m_second.SendTo("127.0.0.1", received.fromPort, {2, 2}));
    ASSERT_TRUE(m_first.SendTo("127.0.0.1", received.fromPort, ack));
    std::unique_ptr<CMsg> answer = PumpForAnswer(firstAnswers);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer->data, ack);
    EXPECT_EQ(answer->address, Ip("127.0.0.1"));
    answer = PumpForAnswer(secondAnswers);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer->data, (Bytes{2, 2}));
    EXPECT_EQ(firstAnswers.Pop(), nullptr);

    // A client reaches its own converter only.
    ASSERT_TRUE(first->Client().Send(Ip("127.0.0.2"), block));
    Pump([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_FALSE(m_second.Receive(&received, 0));
    EXPECT_EQ(m_service->GetCounters().refused, 1u);

    first->Client().Close();
    ASSERT_TRUE(Pump([&] { return m_service->ConnectionCount() == 1; }));
    EXPECT_TRUE(m_service->EndpointOpen());
    second->Client().Close();
    ASSERT_TRUE(Pump([&] { return m_service->ConnectionCount() == 0; }));
    EXPECT_FALSE(m_service->EndpointOpen()) << "the port is free between transfers";
}

TEST_F(CommServiceTest, UndecodableRecordsAreDroppedAndTheNextOneServed) {
    test::LogCapture log;
    CSharedQueue raw;
    ASSERT_TRUE(raw.Open(false, m_queueId, 0));
    ASSERT_TRUE(raw.Write(Bytes{0x0A, 0, 0, 0, 0xFF}));
    CMsg unknown;
    unknown.text = u"Zslot";
    Bytes bytes;
    ASSERT_TRUE(MsgToBytes(unknown, bytes));
    ASSERT_TRUE(raw.Write(bytes));
    CMsgQueue answers;
    auto client = Connect("127.0.0.1", answers);
    ASSERT_TRUE(Pump([&] { return m_service->ConnectionCount() == 1; }));
    EXPECT_EQ(m_service->GetCounters().refused, 1u);
    EXPECT_EQ(test::CountOf(log.Text(), "Deserialize CMsg:Error (ArrayLen:5 bytes)"), 1u)
        << log.Text();
    EXPECT_EQ(test::CountOf(log.Text(), "CCommService::HandleRequest: record dropped"), 1u);
}

TEST_F(CommServiceTest, ClientThatVanishesWithoutCloseIsDropped) {
    CMsgQueue answers;
    auto client = Connect("127.0.0.1", answers);
    ASSERT_TRUE(Pump([&] { return m_service->ConnectionCount() == 1; }));
    client.reset(); // its mailslot goes, no "C" is sent
    EXPECT_TRUE(Pump([&] { return m_service->ConnectionCount() == 0; },
                     std::chrono::milliseconds(3 * CCommService::kProbeIntervalMs)));
    EXPECT_FALSE(m_service->EndpointOpen());
}

TEST_F(CommServiceTest, ServiceEndsConnectionsItDoesNotKnowAndAllAtItsStop) {
    CMsgQueue answers;
    auto stale = Connect("127.0.0.1", answers);
    ASSERT_TRUE(Pump([&] { return m_service->ConnectionCount() == 1; }));
    // As after a restart of the service: it no longer knows the client, which learns so at its
    // next datagram.
    CMsg close;
    close.text = u"CQCS_127.0.0.1_58004";
    m_service->HandleRequest(close);
    ASSERT_TRUE(stale->Client().Send(Ip("127.0.0.1"), Bytes{1}));
    ASSERT_TRUE(Pump([&] { return stale->Client().IsClosedByService(); }));
    EXPECT_FALSE(stale->Client().IsOpen());

    auto client = Connect("127.0.0.2", answers);
    ASSERT_TRUE(Pump([&] { return m_service->ConnectionCount() == 1; }));
    m_service->Stop();
    EXPECT_TRUE(test::WaitUntil([&] { return client->Client().IsClosedByService(); }));
    EXPECT_FALSE(client->Client().IsOpen());
}

} // namespace
} // namespace qarn
