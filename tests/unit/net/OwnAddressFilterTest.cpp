#include "net/OwnAddressFilter.h"

#include "UdpTestPeer.h"
#include "support/NetLab.h"

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::Ip;
using namespace std::chrono_literals;

// A host with 192.168.1.20 and 10.0.0.5 (and lo), whose reads the test counts and can make fail.
struct FakeHost {
    std::vector<uint32_t> addresses{Ip("192.168.1.20"), Ip("10.0.0.5"), Ip("127.0.0.1")};
    bool readable = true;
    int reads = 0;

    OwnAddressFilter::Reader Reader() {
        return [this](std::vector<uint32_t>& out) {
            ++reads;
            if (readable)
                out = addresses;
            return readable;
        };
    }
};

TEST(OwnAddressFilterTest, TheHostsAddressesAndTheLoopbackNetworkAreOwn) {
    FakeHost host;
    OwnAddressFilter filter(host.Reader());
    const OwnAddressFilter::Clock::time_point now{};
    const struct {
        const char* source;
        bool own;
    } cases[] = {
        {"192.168.1.20", true}, {"10.0.0.5", true},         {"127.0.0.1", true},
        {"127.1.2.3", true},    {"192.168.1.21", false},    {"10.0.0.255", false},
        {"0.0.0.0", false},     {"255.255.255.255", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(filter.IsOwn(Ip(c.source), now), c.own);
    }
    EXPECT_EQ(host.reads, 1) << "one read serves a burst";
}

TEST(OwnAddressFilterTest, AnAddressTheHostGainsCountsAfterTheNextRead) {
    FakeHost host;
    OwnAddressFilter filter(host.Reader());
    const OwnAddressFilter::Clock::time_point start{};
    EXPECT_FALSE(filter.IsOwn(Ip("198.18.0.1"), start));
    host.addresses.push_back(Ip("198.18.0.1"));
    EXPECT_FALSE(filter.IsOwn(Ip("198.18.0.1"), start + OwnAddressFilter::kRefreshAfter - 1ms));
    EXPECT_TRUE(filter.IsOwn(Ip("198.18.0.1"), start + OwnAddressFilter::kRefreshAfter));
    EXPECT_EQ(host.reads, 2);

    // A read that fails keeps the last list and is not tried again before the next interval.
    host.readable = false;
    const auto later = start + 3 * OwnAddressFilter::kRefreshAfter;
    EXPECT_TRUE(filter.IsOwn(Ip("192.168.1.20"), later));
    EXPECT_TRUE(filter.IsOwn(Ip("198.18.0.1"), later + 1ms));
    EXPECT_EQ(host.reads, 3);
}

// Every address counts, also past the 128 records of the interface list the endpoint keeps.
TEST(OwnAddressFilterTest, ReadsEveryAddressOfTheHostsInterfaces) {
    QARN_REQUIRE_NETLAB();
    std::string batch;
    for (int i = 1; i <= 140; ++i)
        batch += "addr add 198.18.50." + std::to_string(i) + "/32 dev qdum0\n";
    ASSERT_TRUE(test::AddDummy("qdum0", "198.18.9.1/24"));
    ASSERT_TRUE(test::RunOk("printf '" + batch + "' | ip -batch -"));
    OwnAddressFilter filter;
    for (const char* address : {"198.18.9.1", "198.18.50.1", "198.18.50.140"}) {
        SCOPED_TRACE(address);
        EXPECT_TRUE(filter.IsOwn(Ip(address)));
    }
    EXPECT_FALSE(filter.IsOwn(Ip("198.18.9.2")));
}

} // namespace
} // namespace qarn
