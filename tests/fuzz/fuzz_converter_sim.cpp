// Arbitrary bytes as datagrams that reach a small simulated fleet: one converter of each firmware
// layout, one of each answer style. The first byte of each record picks the destination (a
// converter's own address, the limited or the directed broadcast) and the next two its length;
// the datagram bytes follow. Every answer must fit a UDP datagram and come from a fleet address.
#include "CSimEventLog.h"
#include "CSimFleet.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using namespace qarn::sim;

constexpr uint32_t kFirst = 0xC6120101;

void AddFleet(CSimFleet& fleet) {
    const SimAnswerStyle styles[] = {SimAnswerStyle::Config88, SimAnswerStyle::Config80,
                                     SimAnswerStyle::Blocks, SimAnswerStyle::ConfigAndBlocks};
    for (uint32_t i = 0; i < 4; ++i) {
        SimConverterConfig c;
        c.settings.ip = kFirst + i;
        c.settings.mac = {2, 0x51, 0, 0, 0, static_cast<uint8_t>(i + 1)};
        c.settings.serial = "73145800000001";
        c.settings.firmwareVersion = i % 2 == 0 ? 3012004 : 2040903;
        c.style = styles[i];
        c.restartMs = 10;
        c.seed = i;
        if (i == 3) {
            c.misbehave.wrongEcho = {true, std::nullopt, 2};
            c.misbehave.wrongEchoThenRight = true;
            c.misbehave.duplicates = 1;
        }
        std::string why;
        fleet.Add(c, &why);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CSimEventLog log;
    CSimFleet fleet(log);
    AddFleet(fleet);
    const uint32_t destinations[] = {kFirst,     kFirst + 1, kFirst + 2,
                                     kFirst + 3, 0xFFFFFFFF, 0xC612FFFF};
    uint64_t now = 0;
    size_t at = 0;
    while (at + 3 <= size) {
        const uint32_t dst = destinations[data[at] % 6];
        const size_t length = std::min<size_t>(size - at - 3, data[at + 1] | data[at + 2] << 8);
        fleet.OnDatagram(now, 0xC6120001, 58009, dst, data + at + 3, length);
        at += 3 + length;
        now += 60;
        fleet.Advance(now);
        for (const auto& answer : fleet.TakeDue(now + 1000)) {
            if (answer.bytes.size() > 1472 || fleet.Find(answer.converter) == nullptr)
                std::abort();
        }
    }
    return 0;
}
