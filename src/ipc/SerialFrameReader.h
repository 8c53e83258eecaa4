#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace qarn {

// The read modes of a serial port, apart from the port: each reads through a byte source and
// returns one result. Kept apart so that the frame rules can be tried on any byte sequence.
//
// Mode 0, STX frames:     02 | 16-bit little-endian L | ... ; length = ((L >> 2) & 0x7FF) + 2
//                         02 18 00 -> (0x18 >> 2) + 2 = 8 bytes in all
// Mode 1, debug frames:   a single "C" or "c"; or 82 | 16-bit little-endian length | ...
// Mode 9, direct:         whatever one read of up to 1024 bytes gives
// Other modes, one byte:  one byte
class SerialFrameReader {
  public:
    // Reads up to `max` bytes into `out`: the count (0 when none came within the port's time-out)
    // or -1 on an error.
    using ByteSource = std::function<long(uint8_t* out, size_t max)>;

    enum class Outcome {
        Frame,      // `bytes` holds a whole frame (or the direct read's bytes, or one byte)
        Incomplete, // bytes came but no whole frame: the read time-out or a length out of range
        Nothing,    // no byte came
        Error,      // the source failed
    };
    struct Result {
        Outcome outcome = Outcome::Nothing;
        std::vector<uint8_t> bytes;
    };

    static constexpr uint8_t kStx = 0x02;
    static constexpr uint8_t kDebugStart = 0x82;
    static constexpr size_t kDirectReadSize = 1024;
    static constexpr size_t kMinimumStxFrame = 6;
    static constexpr size_t kMinimumDebugFrame = 5;

    // Frames must be shorter than `bufferSize`.
    static Result ReadStxFrame(const ByteSource& source, size_t bufferSize);
    static Result ReadDebugFrame(const ByteSource& source, size_t bufferSize);
    static Result ReadDirect(const ByteSource& source);
    static Result ReadChar(const ByteSource& source);

    // The frame length that the first three bytes of an STX frame announce.
    static size_t StxFrameLength(const uint8_t* firstThree);
};

} // namespace qarn
