#pragma once

#include <cstdint>
#include <span>

namespace qarn {

class CMsgQueue;

// The path of one firmware transfer to one converter: the engine opens it with its private answer
// queue and the converter's address, sends whole datagrams through it, and takes every answer the
// path receives from that queue. UdpFirmwareTransport is the path the program uses; the local
// communication client is the other one (see FirmwareTransferEnvironment).
//
// Each object serves one transfer: Open once, Send any number of times, Close once (the
// destructor closes too). Only the engine's thread calls it; answers arrive on the transport's
// own threads.
class IFirmwareTransport {
  public:
    virtual ~IFirmwareTransport() = default;

    // Starts delivering answers into `answers`, which must outlive the transport's Close. With
    // `signalAnswers` every delivered answer also sets the queue's event. `target` is IPv4 in
    // network order. False when the path cannot be opened (logged by the transport).
    virtual bool Open(CMsgQueue& answers, uint32_t target, bool signalAnswers) = 0;

    // One datagram to the target; false when it did not leave whole. The engines send and then
    // let the answer decide, so a failed send costs a time-out rather than ending the transfer.
    virtual bool Send(std::span<const uint8_t> datagram) = 0;

    // Stops the delivery of answers and lets go of the path. Nothing is pushed into the queue
    // after it returns.
    virtual void Close() = 0;
};

} // namespace qarn
