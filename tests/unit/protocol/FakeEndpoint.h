#pragma once

// An endpoint that only records: what was opened, closed and sent.

#include "protocol/IConverterEndpoint.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qarn::test {

class FakeEndpoint : public IConverterEndpoint {
  public:
    struct Sent {
        std::vector<uint8_t> datagram;
        uint32_t address;
        int32_t port;
    };

    bool IsOpen() const override { return open; }
    bool Open() override {
        calls += "open;";
        open = openSucceeds;
        return open;
    }
    void Close() override {
        calls += "close;";
        open = false;
    }
    bool Send(const std::vector<uint8_t>& datagram, uint32_t address, int32_t port) override {
        sent.push_back({datagram, address, port});
        return sendSucceeds;
    }

    bool SetBroadcastInterface(const std::string& name) override {
        broadcastInterface = name;
        return true;
    }

    bool open = true;
    std::string broadcastInterface;
    bool openSucceeds = true;
    bool sendSucceeds = true;
    std::string calls;
    std::vector<Sent> sent;
};

} // namespace qarn::test
