#pragma once

#include "firmware/IFirmwareTransport.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qarn {

// How an engine waits for each answer. Both keep the same deadlines and take the first message;
// they differ in how soon the engine notices it.
enum class AnswerWait {
    // Sleeps on the private queue's event, which the transport sets at every answer: the engine
    // wakes as the answer arrives.
    Event,
    // Looks at the queue every 5 ms without signalling: up to 5 ms late per answer. Kept so that
    // a benchmark can compare the two on the same link.
    Poll,
};

// Makes the transport of one transfer: useUdp picks the private UDP endpoint, otherwise the local
// communication client, opened with `clientLimit` (50 for the 1024-byte engine, 100 for the
// fixed-layout one). Null when that path is not available.
using FirmwareTransportFactory =
    std::function<std::unique_ptr<IFirmwareTransport>(bool useUdp, int32_t clientLimit)>;

// Makes the communication client's transport with its limit value, or null.
using ClientTransportFactory = std::function<std::unique_ptr<IFirmwareTransport>(int32_t limit)>;

// Everything a transfer engine reaches beyond its own arguments. The program uses Default();
// tests and benchmarks replace single parts (a fake transport, a ping that answers at once).
struct FirmwareTransferEnvironment {
    FirmwareTransportFactory makeTransport;
    // After the commit: true when the converter named by the text answers echo again within
    // `retries` tries (CSupport::PingWait).
    std::function<bool(const std::string& target, int32_t retries)> pingWait;
    // The pause before the pings, in slices; blocks the calling thread.
    std::function<void(std::chrono::milliseconds)> sleep;
    AnswerWait answerWait = AnswerWait::Event;
    // With AnswerWait::Event: how long the engine keeps looking at the queue after a send before
    // it sleeps on the event. A converter on the segment answers a block in well under this, about
    // the time the system needs to wake a sleeping thread, so the look saves that wake-up on each
    // of the 130 to 150 exchanges of a transfer. It yields while it looks, so that on a single
    // processor the receive worker still gets to deliver the answer. Zero sleeps at once.
    std::chrono::microseconds answerSpin{300};

    // UDP through UdpFirmwareTransport, the client through the factory registered with
    // SetClientTransportFactory (none yet: selecting it fails), CSupport::PingWait, a real sleep,
    // and waits on the queue's event.
    static FirmwareTransferEnvironment Default();
};

// The communication client lives in a library above this one, so it is registered here by the
// program at start, before any transfer runs; an empty factory removes it again. Until one is
// registered, a transfer asked to use the client fails at once with a log line.
void SetClientTransportFactory(ClientTransportFactory factory);

} // namespace qarn
