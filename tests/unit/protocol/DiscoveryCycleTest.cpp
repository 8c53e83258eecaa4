#include "protocol/DiscoveryCycle.h"

#include "ConverterDatagrams.h"
#include "FakeEndpoint.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::Ip;

class DiscoveryCycleTest : public ::testing::Test {
  protected:
    int64_t now = 500;
    test::EchoTable echo;
    test::FakeEndpoint endpoint;
    DeviceList list{echo, [this] { return now; }, ParallelEcho::kInline};
    DiscoveryCycle discovery{endpoint, list};
};

TEST_F(DiscoveryCycleTest, RequestAtTheFirstTickAndThenEveryFourth) {
    const DiscoveryTick S = DiscoveryTick::RequestSent, W = DiscoveryTick::Waiting;
    const std::vector<DiscoveryTick> expected = {S, W, W, W, S, W, W, W, S};
    std::vector<DiscoveryTick> ticks;
    for (size_t i = 0; i < expected.size(); ++i)
        ticks.push_back(discovery.Tick());
    EXPECT_EQ(ticks, expected);
    ASSERT_EQ(endpoint.sent.size(), 3u);
    for (const auto& sent : endpoint.sent) {
        EXPECT_EQ(sent.address, 0xFFFFFFFFu);
        EXPECT_EQ(sent.port, 0) << "the endpoint's converter port";
        ASSERT_EQ(sent.datagram.size(), 16u);
        EXPECT_EQ(sent.datagram[0], 1);
        EXPECT_EQ(sent.datagram[1], 0x1A);
        for (size_t i = 2; i < 12; ++i)
            EXPECT_EQ(sent.datagram[i], 0) << "byte " << i;
        EXPECT_EQ(test::Get32(sent.datagram, 12) & 0x80008000u, 0u) << "a seed of MakeSeed";
    }
    EXPECT_EQ(endpoint.calls, "") << "an open endpoint is left alone";

    const std::vector<uint8_t> request = BuildDiscoveryRequest(0x11223344);
    EXPECT_EQ(request, (std::vector<uint8_t>{1, 0x1A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x44, 0x33,
                                             0x22, 0x11}));
}

TEST_F(DiscoveryCycleTest, StaleRowsGoWithEachRequestOnly) {
    list.OnConverterAnswer(Ip(10, 0, 0, 1), test::BlockAnswer(0xD0, 40));
    discovery.Tick(); // request; the row is fresh
    EXPECT_EQ(list.GetRowCount(), 1u);
    now += 30;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(discovery.Tick(), DiscoveryTick::Waiting);
    EXPECT_EQ(list.GetRowCount(), 1u) << "no age-out between requests";
    EXPECT_EQ(discovery.Tick(), DiscoveryTick::RequestSent);
    EXPECT_EQ(list.GetRowCount(), 0u);

    endpoint.sendSucceeds = false;
    for (int i = 0; i < 3; ++i)
        discovery.Tick();
    EXPECT_EQ(discovery.Tick(), DiscoveryTick::RequestFailed);
}

// A flood costs one log line per cycle: the drops are reported with each request, not between.
TEST_F(DiscoveryCycleTest, DropsAreReportedWithEachRequestOnly) {
    DropCounts drops;
    drops.queueFull = 5;
    discovery.Tick();
    list.AddDrops(drops);
    EXPECT_EQ(discovery.Tick(), DiscoveryTick::Waiting);
    EXPECT_EQ(list.LogDrops(), drops) << "not reported between requests";
    list.AddDrops(drops);
    for (int i = 0; i < 2; ++i)
        discovery.Tick();
    EXPECT_EQ(discovery.Tick(), DiscoveryTick::RequestSent);
    EXPECT_FALSE(list.LogDrops().Any()) << "reported with the request";
    EXPECT_EQ(list.GetDropCounts().queueFull, 10u);
}

TEST_F(DiscoveryCycleTest, AClosedEndpointIsReopenedWithAnEmptyList) {
    list.OnConverterAnswer(Ip(10, 0, 0, 1), test::ConfigurationAnswer({}));
    discovery.Tick();
    endpoint.open = false;
    endpoint.sent.clear();

    EXPECT_EQ(discovery.Tick(), DiscoveryTick::Reopened);
    EXPECT_EQ(endpoint.calls, "close;open;");
    EXPECT_EQ(list.GetRowCount(), 0u);
    EXPECT_TRUE(endpoint.sent.empty()) << "the reopening tick sends nothing";
    EXPECT_EQ(discovery.GetCountdown(), 4) << "nor counts";

    endpoint.open = false;
    endpoint.openSucceeds = false;
    endpoint.calls.clear();
    EXPECT_EQ(discovery.Tick(), DiscoveryTick::ReopenFailed);
    EXPECT_EQ(discovery.Tick(), DiscoveryTick::ReopenFailed);
    EXPECT_EQ(endpoint.calls, "close;open;close;open;");
    endpoint.openSucceeds = true;
    EXPECT_EQ(discovery.Tick(), DiscoveryTick::Reopened);
    EXPECT_EQ(discovery.Tick(), DiscoveryTick::Waiting);
}

TEST_F(DiscoveryCycleTest, RestartCountdownPutsTheNextRequestFourTicksAway) {
    discovery.Tick();
    discovery.Tick();
    discovery.RestartCountdown();
    EXPECT_EQ(discovery.GetCountdown(), 4);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(discovery.Tick(), DiscoveryTick::Waiting);
    EXPECT_EQ(discovery.Tick(), DiscoveryTick::RequestSent);
}

} // namespace
} // namespace qarn
