#pragma once

#include "firmware/TransferResult.h"

#include <cstdint>
#include <span>
#include <string>

namespace qarn {

class IProgressDisplay;

// The firmware side of a converter: the two transfer engines and the checksum the commit datagram
// carries. The class only groups static operations; no object of it exists.
//
// Both engines block the calling thread for the whole transfer (seconds; half a minute and more
// with the restart wait) and work on a private UDP endpoint bound to port 58009, so the
// application's own endpoint on that port must be closed meanwhile. `target` is the converter's
// address as text ("198.18.1.7"); `progress` may be null; `useUdp` false selects the local
// communication client, which fails at once unless the program registered one
// (SetClientTransportFactory). Failures are logged; nothing throws.
class CConfigLANconverter {
  public:
    CConfigLANconverter() = delete;

    // Image 151 in 1024-byte blocks, then a commit with length and checksum. True when the
    // converter acknowledged every step and, with waitForRestart, answers echo again after its
    // restart (5 s pause, then up to 25 pings). Only datagrams from `target` count as answers.
    // `result`, when given, tells a false apart: Failed (the converter does not hold the image,
    // with the reason) or Unconfirmed (the last acknowledgement never came; the engine waited for
    // the restart, and the firmware version the converter now reports decides). A window's
    // failure message can then say that the update can be started again.
    static bool UpdateSam4LANconverter(const std::string& target, std::span<const uint8_t> image,
                                       IProgressDisplay* progress, bool waitForRestart, bool useUdp,
                                       TransferResult* result = nullptr);

    // Image 149 or 150 (exactly 131072 bytes) in the fixed 126-block layout, without a commit.
    // Same result and restart wait as UpdateSam4LANconverter; the last block takes the commit's
    // part.
    static bool UpdateLtxLANconverter(const std::string& target, std::span<const uint8_t> image,
                                      IProgressDisplay* progress, bool waitForRestart, bool useUdp,
                                      TransferResult* result = nullptr);

    // Adler-32 (the zlib checksum) over every byte of `image`, in order, and an info log line
    // naming it and the byte count. "" -> 0x00000001, "abc" -> 0x024D0127.
    static uint32_t _CreateFirmwareChecksum(std::span<const uint8_t> image);
};

} // namespace qarn
