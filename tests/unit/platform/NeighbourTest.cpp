#include "platform/Neighbour.h"

#include "support/NetLab.h"

#include <arpa/inet.h>
#include <cerrno>
#include <string>

#include <gtest/gtest.h>

namespace qarn::platform {
namespace {

uint32_t Ip(const char* text) {
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, text, &address), 1) << text;
    return address.s_addr;
}

class NeighbourLab : public ::testing::Test {
  protected:
    void SetUp() override {
        QARN_REQUIRE_NETLAB();
        ASSERT_TRUE(test::AddDummy("nb0", "198.18.9.1/24"));
    }
};

TEST_F(NeighbourLab, OnlyEntriesWithAUsableAddressAreRows) {
    struct Row {
        const char* name;
        const char* address;
        const char* entry; // the rest of "ip neigh add <address> ... dev nb0"; null: none
        NeighbourLookupStatus status;
        std::array<uint8_t, 6> mac;
    };
    const Row rows[] = {
        {"permanent",
         "198.18.9.10",
         "lladdr 02:11:22:33:44:01 nud permanent",
         NeighbourLookupStatus::Found,
         {0x02, 0x11, 0x22, 0x33, 0x44, 0x01}},
        {"reachable",
         "198.18.9.11",
         "lladdr 02:11:22:33:44:02 nud reachable",
         NeighbourLookupStatus::Found,
         {0x02, 0x11, 0x22, 0x33, 0x44, 0x02}},
        {"stale",
         "198.18.9.12",
         "lladdr 0a:bb:cc:dd:ee:ff nud stale",
         NeighbourLookupStatus::Found,
         {0x0a, 0xbb, 0xcc, 0xdd, 0xee, 0xff}},
        {"noarp",
         "198.18.9.13",
         "lladdr 02:11:22:33:44:04 nud noarp",
         NeighbourLookupStatus::Found,
         {0x02, 0x11, 0x22, 0x33, 0x44, 0x04}},
        {"incomplete", "198.18.9.14", "nud incomplete", NeighbourLookupStatus::NoRow, {}},
        {"failed",
         "198.18.9.15",
         "lladdr 02:11:22:33:44:06 nud failed",
         NeighbourLookupStatus::NoRow,
         {}},
        {"no entry", "198.18.9.16", nullptr, NeighbourLookupStatus::NoRow, {}},
    };
    for (const Row& row : rows) {
        if (row.entry == nullptr)
            continue;
        ASSERT_TRUE(
            test::RunOk(std::string("ip neigh add ") + row.address + " " + row.entry + " dev nb0"));
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const NeighbourLookupResult result = LookupNeighbour(Ip(row.address));
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.mac, row.mac);
        EXPECT_EQ(result.error, 0);
    }
}

TEST(NeighbourTest, UnreadableTableIsAFailureNotAnEmptyTable) {
    test::ScopedDescriptorExhaustion noDescriptors;
    ASSERT_TRUE(noDescriptors.Active());
    const NeighbourLookupResult result = LookupNeighbour(Ip("198.18.9.10"));
    EXPECT_EQ(result.status, NeighbourLookupStatus::Failed);
    EXPECT_EQ(result.error, EMFILE);
}

} // namespace
} // namespace qarn::platform
