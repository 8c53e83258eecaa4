#include "protocol/ConverterEndpoint.h"

#include "ConverterDatagrams.h"
#include "net/CMsgQueue.h"
#include "protocol/PingReachability.h"
#include "support/NetLab.h"

#include <arpa/inet.h>
#include <chrono>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace qarn {
namespace {

using test::Ip;

// A free UDP port on loopback at this moment.
int32_t FreePort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
    EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
    close(fd);
    return ntohs(address.sin_port);
}

TEST(ConverterEndpointTest, DeliversWhatArrivesWithItsSourceOverLoopback) {
    CMsgQueue queue;
    ConverterEndpoint endpoint(queue, FreePort());
    EXPECT_FALSE(endpoint.IsOpen());
    ASSERT_TRUE(endpoint.Open());
    EXPECT_TRUE(endpoint.IsOpen());

    // To itself: the endpoint's own port is the converter port here.
    const std::vector<uint8_t> datagram = test::BlockAnswer(0xD0, 40);
    ASSERT_TRUE(endpoint.Send(datagram, Ip(127, 0, 0, 1), 0));
    std::unique_ptr<CMsg> received;
    for (int i = 0; i < 500 && !received; ++i) {
        received = queue.Pop();
        if (!received)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(received, nullptr);
    EXPECT_EQ(received->data, datagram);
    EXPECT_EQ(received->address, Ip(127, 0, 0, 1));

    endpoint.Close();
    EXPECT_FALSE(endpoint.IsOpen());
    EXPECT_FALSE(endpoint.Send(datagram, Ip(127, 0, 0, 1), 0));
}

TEST(PingReachabilityTest, LoopbackAnswersAnAddressWithoutRouteDoesNot) {
    QARN_REQUIRE_NETLAB(); // only lo exists in the fresh namespace
    PingReachability echo;
    EXPECT_TRUE(echo.Echo(Ip(127, 0, 0, 1)));
    EXPECT_FALSE(echo.Echo(Ip(198, 18, 99, 99)));
}

} // namespace
} // namespace qarn
