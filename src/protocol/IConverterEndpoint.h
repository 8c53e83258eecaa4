#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qarn {

// The tool's UDP endpoint on the converter port as discovery and the configuration write use it.
// ConverterEndpoint is the real one; tests record what would have gone out.
class IConverterEndpoint {
  public:
    // Address that sends to every local network at once.
    static constexpr uint32_t kBroadcast = 0xFFFFFFFF;

    virtual ~IConverterEndpoint() = default;

    virtual bool IsOpen() const = 0;
    // Opens (or reopens) on the converter port and starts handing received datagrams on.
    virtual bool Open() = 0;
    virtual void Close() = 0;
    // Sends `datagram` to `address` (network order; kBroadcast broadcasts) and `port` (host
    // order; 0 means the converter port). False when it did not go out whole.
    virtual bool Send(const std::vector<uint8_t>& datagram, uint32_t address, int32_t port) = 0;

    // Limits what Send does with kBroadcast to the directed broadcast of the network interface
    // `name` ("eth1"), for a PC with several networks; "" sends to every interface again (the
    // default). Takes effect with the next send. False when this endpoint cannot limit its
    // broadcasts (then only "" is accepted).
    virtual bool SetBroadcastInterface(const std::string& name) { return name.empty(); }
};

} // namespace qarn
