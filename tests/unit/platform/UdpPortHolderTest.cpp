// Naming the program that holds a UDP port, from the system's socket tables: this test's own
// process binds a loopback port and must be found by it.

#include "platform/UdpPortHolder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace qarn::platform {
namespace {

TEST(UdpPortHolderTest, NamesTheProcessThatHoldsThePortAndNobodyOnceItIsFree) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    socklen_t size = sizeof address;
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const uint16_t port = ntohs(address.sin_port);

    const std::string holder = DescribeUdpPortHolder(port);
    EXPECT_NE(holder.find("process " + std::to_string(::getpid())), std::string::npos) << holder;
    ::close(fd);
    EXPECT_EQ(DescribeUdpPortHolder(port), "") << "a free port has no holder";
}

} // namespace
} // namespace qarn::platform
