#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace qarn {

// Tells datagrams this host sent itself from those of other hosts, by their source address. Linux
// hands a broadcast that the host sends back to every socket of the host bound to that port, with
// one of the host's own addresses as the source; no other host can use those addresses. Own are:
// every IPv4 address of an interface that is up, and the whole loopback network 127.0.0.0/8.
//
//     OwnAddressFilter own;
//     if (own.IsOwn(msg->address)) ... // drop it
//
// The addresses are read at the first check and again at a check that finds them older than
// kRefreshAfter, so an address the host gained (a DHCP lease after the program started) counts
// within about a second. When they cannot be read, the last list stays.
//
// Threads: one thread at a time (the receive worker of an endpoint).
class OwnAddressFilter {
  public:
    using Clock = std::chrono::steady_clock;
    // Fills the host's addresses (network order); false when they cannot be read.
    using Reader = std::function<bool(std::vector<uint32_t>& addresses)>;

    static constexpr std::chrono::milliseconds kRefreshAfter{1000};

    // The default reads the interfaces of the calling thread's network namespace.
    explicit OwnAddressFilter(Reader reader = ReadInterfaceAddresses);

    // True when `source` (network order) is one of this host's addresses at `now`.
    bool IsOwn(uint32_t source, Clock::time_point now = Clock::now());

    // Every address of the interfaces that are up, without the limit of the interface records.
    static bool ReadInterfaceAddresses(std::vector<uint32_t>& addresses);

  private:
    Reader m_reader;
    std::vector<uint32_t> m_addresses; // sorted
    Clock::time_point m_readAt;
    bool m_read = false;
};

} // namespace qarn
