#include "ipc/CqarnCommunicationClient.h"

#include "ipc/CMailslotS.h"
#include "ipc/CMailslotWriter.h"
#include "ipc/ClientRecord.h"
#include "ipc/CqarnCommunicationClientData.h"
#include "unit/ipc/IpcTestSupport.h"
#include "unit/net/UdpTestPeer.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::Ip;

TEST(CqarnCommunicationClientDataTest, RecordTravelsAsTwentyFiveBytes) {
    CqarnCommunicationClientData data;
    data.peerAddress = Ip("192.168.1.20");
    data.peerPort = 58004;
    data.limitValue = 50;
    data.reservedFlag = 7;
    std::vector<uint8_t> bytes;
    data.Serialize(bytes);
    const std::vector<uint8_t> expected{10, 0, 0, 0,  192, 168, 1, 20, 0x94, 0xE2, 0, 0, 0,
                                        0,  0, 0, 50, 0,   0,   0, 0,  0,    0,    0, 7};
    EXPECT_EQ(bytes, expected);
    CqarnCommunicationClientData back;
    ASSERT_TRUE(back.Deserialize(bytes));
    EXPECT_EQ(back, data);

    bytes[0] = 11;
    EXPECT_FALSE(back.Deserialize(bytes)) << "another schema";
    bytes[0] = 10;
    bytes.pop_back();
    EXPECT_FALSE(back.Deserialize(bytes)) << "short";
}

// The client against a stand-in for the service: a queue of the test's own that it reads, and the
// client's mailslot that it answers into.
class ClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_service.Create(m_queueId, &m_records, 0, std::nullopt, 1));
        m_client.Client().SetServiceId(m_queueId);
    }

    // The next record the client wrote, read as the service reads it.
    ClientRecord NextRecord() {
        std::unique_ptr<CMsg> msg;
        EXPECT_TRUE(test::WaitUntil([&] { return (msg = m_records.Pop()) != nullptr; }));
        ClientRecord record;
        EXPECT_TRUE(msg && ParseClientRecord(*msg, record));
        return record;
    }

    void Answer(const std::u16string& command, uint32_t from, std::vector<uint8_t> data) {
        CMsg msg;
        msg.text = command + u"QCS_192.168.1.20_58004";
        msg.address = from;
        msg.data = std::move(data);
        ASSERT_EQ(m_writer.Send("QCS_192.168.1.20_58004", msg), 0);
    }

    test::ScopedMailslotFolder m_folder;
    std::string m_queueId = test::UniqueQueueId("client");
    CMsgQueue m_records;
    CMailslotS m_service;
    CMailslotWriter m_writer;
    CMsgQueue m_answers;
    CqarnCommunicationClient m_client;
    const uint32_t m_converter = Ip("192.168.1.20");
};

TEST_F(ClientTest, OpenMakesTheMailslotAndSendsItsRecord) {
    CqarnCommunicationClient3& client = m_client.Client();
    ASSERT_TRUE(client.Open(&m_answers, m_converter, 50));
    EXPECT_TRUE(client.IsOpen());
    struct stat info {};
    EXPECT_EQ(stat((m_folder.Path() / "QCS_192.168.1.20_58004.slot").c_str(), &info), 0);

    const ClientRecord open = NextRecord();
    EXPECT_EQ(open.command, ClientRecord::Command::Open);
    EXPECT_EQ(open.slotId, "QCS_192.168.1.20_58004");
    EXPECT_EQ(open.data.peerAddress, m_converter);
    EXPECT_EQ(open.data.peerPort, 58004u);
    EXPECT_EQ(open.data.limitValue, 50u);
    EXPECT_EQ(open.data.useSerial, 0u);

    const std::vector<uint8_t> datagram{1, 0x1E, 0, 0, 5};
    ASSERT_TRUE(client.Send(m_converter, datagram));
    const ClientRecord send = NextRecord();
    EXPECT_EQ(send.command, ClientRecord::Command::Send);
    EXPECT_EQ(send.address, m_converter);
    EXPECT_EQ(send.payload, datagram);

    client.Close();
    EXPECT_EQ(NextRecord().command, ClientRecord::Command::Close);
    EXPECT_FALSE(client.IsOpen());
    EXPECT_NE(stat((m_folder.Path() / "QCS_192.168.1.20_58004.slot").c_str(), &info), 0);
}

TEST_F(ClientTest, DAnswersReachTheQueueAndOtherCommandsAreDropped) {
    CqarnCommunicationClient3& client = m_client.Client();
    client.SetTag(77);
    ASSERT_TRUE(client.Open(&m_answers, m_converter, 50));
    Answer(u"X", m_converter, {9});
    Answer(u"D", m_converter, {1, 2, 3});
    std::unique_ptr<CMsg> answer;
    ASSERT_TRUE(test::WaitUntil([&] { return (answer = m_answers.Pop()) != nullptr; }));
    EXPECT_EQ(answer->data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(answer->address, m_converter);
    EXPECT_EQ(answer->tag, 77);
    EXPECT_EQ(m_answers.Pop(), nullptr) << "the X message was dropped";
}

TEST_F(ClientTest, CloseFromTheServiceEndsTheConnectionWithoutAnotherC) {
    CqarnCommunicationClient3& client = m_client.Client();
    ASSERT_TRUE(client.Open(&m_answers, m_converter, 50));
    EXPECT_EQ(NextRecord().command, ClientRecord::Command::Open);
    Answer(u"C", 0, {});
    ASSERT_TRUE(test::WaitUntil([&] { return client.IsClosedByService(); }));
    CMsg msg;
    msg.data = {1};
    EXPECT_FALSE(client.SendMsg(msg));
    EXPECT_FALSE(client.IsOpen());
    client.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(m_records.Pop(), nullptr) << "no record after the service's C";
}

TEST_F(ClientTest, OpenWhileConnectedClosesFirst) {
    CqarnCommunicationClient3& client = m_client.Client();
    ASSERT_TRUE(client.Open(&m_answers, m_converter, 50));
    ASSERT_TRUE(client.Open(&m_answers, m_converter, 100));
    EXPECT_EQ(NextRecord().command, ClientRecord::Command::Open);
    EXPECT_EQ(NextRecord().command, ClientRecord::Command::Close);
    const ClientRecord again = NextRecord();
    EXPECT_EQ(again.command, ClientRecord::Command::Open);
    EXPECT_EQ(again.data.limitValue, 100u);
}

TEST_F(ClientTest, OpenFailsWithoutAServiceAndLeavesNoMailslot) {
    m_service.Close();
    CqarnCommunicationClient3& client = m_client.Client();
    EXPECT_FALSE(client.Open(&m_answers, m_converter, 50));
    EXPECT_FALSE(client.IsOpen());
    struct stat info {};
    EXPECT_NE(stat((m_folder.Path() / "QCS_192.168.1.20_58004.slot").c_str(), &info), 0);
}

TEST(ClientRecordTest, RecordsThatAreNotValidAreRefused) {
    CqarnCommunicationClientData data;
    std::vector<uint8_t> record;
    data.Serialize(record);
    struct Case {
        const char* name;
        std::u16string text;
        std::vector<uint8_t> data;
        bool accepted;
    };
    const Case cases[] = {
        {"open with its record", u"OQCS_1", record, true},
        {"send with a datagram", u"SQCS_1", {1, 2}, true},
        {"close", u"CQCS_1", {}, true},
        {"empty text", u"", {}, false},
        {"unknown command", u"XQCS_1", {}, false},
        {"no mailslot id", u"C", {}, false},
        {"control character in the id", u"CQCS\n1", {}, false},
        {"lone surrogate in the id", std::u16string(u"CQ") + char16_t(0xD800), {}, false},
        {"id too long", u"C" + std::u16string(ClientRecord::kMaxSlotIdLength + 1, u'a'), {}, false},
        {"open without a record", u"OQCS_1", {1, 2, 3}, false},
        {"send without a datagram", u"SQCS_1", {}, false},
        {"send larger than a datagram", u"SQCS_1",
         std::vector<uint8_t>(ClientRecord::kMaxDatagram + 1, 0), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CMsg msg;
        msg.text = c.text;
        msg.data = c.data;
        ClientRecord parsed;
        EXPECT_EQ(ParseClientRecord(msg, parsed), c.accepted);
    }
}

} // namespace
} // namespace qarn
