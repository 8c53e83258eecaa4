#pragma once

#include "net/CMsgQueue.h"
#include "net/CUDPSocket.h"
#include "protocol/IConverterEndpoint.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace qarn {

// The application's endpoint: a CUDPSocket bound to the converter port (any local address, held
// alone: no other process can bind it beside it) whose receive worker pushes every datagram, with
// its source address, onto `queue` for the answer pump. Broadcasts fan out to every local network
// from the endpoint itself (CUDPSocket), or go to the directed broadcast of one chosen interface
// only:
//
//     endpoint.SetBroadcastInterface("eth1");   // 192.168.7.20/24 -> 192.168.7.255 alone
//
// Datagrams from this host's own addresses are dropped: they are the endpoint's own requests and
// writes coming back (a broadcast reaches the sender's host too), never a converter's answer.
//
// Threads: Open, Close and IsOpen belong to the thread that owns the device list; Send may come
// from any thread.
class ConverterEndpoint : public IConverterEndpoint {
  public:
    // Pause between the receive worker's passes and the wait of each of its reads (ms).
    static constexpr uint32_t kReceivePauseMs = 10;
    static constexpr uint32_t kReadTimeoutMs = 100;

    // `queue` must outlive the endpoint. `port` is the local port and, unless a send names
    // another, the converters' port.
    explicit ConverterEndpoint(CMsgQueue& queue, int32_t port = CUDPSocket::kConverterPort);
    ~ConverterEndpoint() override;
    ConverterEndpoint(const ConverterEndpoint&) = delete;
    ConverterEndpoint& operator=(const ConverterEndpoint&) = delete;

    bool IsOpen() const override;
    bool Open() override;
    void Close() override;
    bool Send(const std::vector<uint8_t>& datagram, uint32_t address, int32_t port) override;
    // The interface's addresses are looked up at each broadcast, so an interface that gets its
    // address later (a cable plugged in, DHCP) is served from then on; while it has none, a
    // broadcast sends nothing, logs a warning and reports false.
    bool SetBroadcastInterface(const std::string& name) override;
    std::string GetBroadcastInterface() const;

    int32_t GetPort() const { return m_port; }

    // Names of the interfaces that a broadcast can be limited to: those that are up with an IPv4
    // address and are not the loopback, in the system's order, each once. For a menu of choices.
    static std::vector<std::string> ListBroadcastInterfaces();
    // The directed broadcast addresses (network order) of interface `name` at this moment: one
    // per IPv4 address it has (its labelled addresses "eth1:0" included); empty when it has none,
    // is down, is unknown or is the loopback.
    static std::vector<uint32_t> DirectedBroadcastsOf(const std::string& name);

  private:
    bool SendToInterface(const std::vector<uint8_t>& datagram, const std::string& name,
                         int32_t port);

    CMsgQueue& m_queue;
    int32_t m_port;
    CUDPSocket m_socket;
    mutable std::mutex m_interfaceLock;
    std::string m_broadcastInterface; // under m_interfaceLock; "" = every interface
};

} // namespace qarn
