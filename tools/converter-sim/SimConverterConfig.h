#pragma once

#include "CSimFirmwareReceiver.h"
#include "SimSettings.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace qarn::sim {

// How a converter answers a discovery request.
enum class SimAnswerStyle {
    Config88,        // one 88-byte configuration answer
    Config80,        // one 80-byte configuration answer (no code, letter, system type)
    Blocks,          // block answers only
    ConfigAndBlocks, // the 88-byte configuration answer, then the block answers
};

// Delay of the answers to a discovery request or block request, in milliseconds: fixed when
// min == max, else drawn evenly from [min, max]. Firmware acknowledgements are not delayed.
struct SimDelay {
    uint32_t minMs = 0;
    uint32_t maxMs = 0;
};

// A fault that hits the firmware answers for one block number (or any, when block is empty), the
// first `times` times (every time when times is 0).
struct SimFault {
    bool enabled = false;
    std::optional<uint16_t> block;
    uint32_t times = 0;
};

// Ways to misbehave; everything off by default.
struct SimMisbehaviour {
    // No answer to any firmware datagram from this block number on (the commit included).
    std::optional<uint16_t> silentFromBlock;
    // Acknowledge block k with the number k + 1, which neither this block nor an earlier one
    // had (an earlier block's number is what a converter that repeats its answers sends, and the
    // tool passes over it); with thenRight the right acknowledgement follows the wrong one.
    SimFault wrongEcho;
    bool wrongEchoThenRight = false;
    // A commit that is taken (and restarts the converter) is not acknowledged: the answer is
    // lost on its way back, every time.
    bool commitAckLost = false;
    // Firmware answers of this many bytes instead of 16 (cut, or padded with zeros).
    SimFault wrongAckLength;
    uint32_t ackLength = 16;
    // Configuration answers of this many bytes instead of 80/88 (0: off).
    uint32_t configAnswerLength = 0;
    // Answers leave from this address instead of the converter's own (0: off).
    uint32_t answerFrom = 0;
    // Every answer goes out this many extra times.
    uint32_t duplicates = 0;
    // Share (0..1) of received / sent datagrams that are lost, drawn from the converter's seed.
    double lossIn = 0;
    double lossOut = 0;
};

// Everything that makes up one simulated converter.
struct SimConverterConfig {
    SimSettings settings;
    SimAnswerStyle style = SimAnswerStyle::Config88;
    SimDelay delay;
    std::vector<uint8_t> blockCodes = {0xD0, 0xD5, 0xF5, 0xF7};
    // Empty: chosen by the firmware version (2.x.y.z the fixed layout, else 1024-byte blocks).
    std::optional<SimFirmwareLayout> layout;
    uint32_t versionAfter1024Update = 3026211; // 3.2.62.11
    uint32_t restartMs = 3000;                 // silent time after a completed transfer
    SimMisbehaviour misbehave;
    uint64_t seed = 1;

    SimFirmwareLayout EffectiveLayout() const {
        if (layout)
            return *layout;
        const uint32_t v = settings.firmwareVersion;
        return v >= 2000000 && v < 3000000 ? SimFirmwareLayout::Fixed126
                                           : SimFirmwareLayout::Blocks1024;
    }
};

} // namespace qarn::sim
