#include "ipc/SerialFrameReader.h"

#include "platform/ByteOrder.h"

namespace qarn {

namespace {

using Outcome = SerialFrameReader::Outcome;
using Result = SerialFrameReader::Result;

// One byte from the source: 1 with `byte` set, 0 on a time-out, -1 on an error.
long ReadOne(const SerialFrameReader::ByteSource& source, uint8_t& byte) {
    const long got = source(&byte, 1);
    return got < 0 ? -1 : got > 0 ? 1 : 0;
}

Result Stopped(long got, const std::vector<uint8_t>& collected) {
    if (got < 0)
        return {Outcome::Error, {}};
    return {collected.empty() ? Outcome::Nothing : Outcome::Incomplete, {}};
}

// Reads until `frame` holds `length` bytes; the frame, or why it stopped.
Result Complete(const SerialFrameReader::ByteSource& source, std::vector<uint8_t>& frame,
                size_t length) {
    while (frame.size() < length) {
        const size_t before = frame.size();
        frame.resize(length);
        long got = source(frame.data() + before, length - before);
        if (got <= 0 || static_cast<size_t>(got) > length - before) {
            if (got > 0)
                got = -1;
            frame.resize(before);
            return Stopped(got, frame);
        }
        frame.resize(before + static_cast<size_t>(got));
    }
    return {Outcome::Frame, std::move(frame)};
}

} // namespace

size_t SerialFrameReader::StxFrameLength(const uint8_t* firstThree) {
    return static_cast<size_t>((platform::GetLe16(firstThree + 1) >> 2) & 0x7FF) + 2;
}

Result SerialFrameReader::ReadStxFrame(const ByteSource& source, size_t bufferSize) {
    std::vector<uint8_t> frame;
    uint8_t byte = 0;
    // Bytes before the frame's start are not part of any frame.
    for (;;) {
        const long got = ReadOne(source, byte);
        if (got <= 0)
            return Stopped(got, frame);
        if (byte == kStx)
            break;
    }
    frame.push_back(byte);
    for (int i = 0; i < 2; ++i) {
        const long got = ReadOne(source, byte);
        if (got <= 0)
            return Stopped(got, frame);
        frame.push_back(byte);
    }
    const size_t length = StxFrameLength(frame.data());
    if (length < kMinimumStxFrame || length >= bufferSize)
        return {Outcome::Incomplete, {}};
    return Complete(source, frame, length);
}

Result SerialFrameReader::ReadDebugFrame(const ByteSource& source, size_t bufferSize) {
    std::vector<uint8_t> frame;
    uint8_t byte = 0;
    for (;;) {
        const long got = ReadOne(source, byte);
        if (got <= 0)
            return Stopped(got, frame);
        if (byte == 'C' || byte == 'c')
            return {Outcome::Frame, {byte}};
        if (byte == kDebugStart)
            break;
    }
    frame.push_back(byte);
    for (int i = 0; i < 2; ++i) {
        const long got = ReadOne(source, byte);
        if (got <= 0)
            return Stopped(got, frame);
        frame.push_back(byte);
    }
    const size_t length = platform::GetLe16(frame.data() + 1);
    if (length < kMinimumDebugFrame || length >= bufferSize)
        return {Outcome::Incomplete, {}};
    return Complete(source, frame, length);
}

Result SerialFrameReader::ReadDirect(const ByteSource& source) {
    std::vector<uint8_t> bytes(kDirectReadSize);
    const long got = source(bytes.data(), bytes.size());
    if (got < 0 || static_cast<size_t>(got) > bytes.size())
        return {Outcome::Error, {}};
    if (got == 0)
        return {Outcome::Nothing, {}};
    bytes.resize(static_cast<size_t>(got));
    return {Outcome::Frame, std::move(bytes)};
}

Result SerialFrameReader::ReadChar(const ByteSource& source) {
    uint8_t byte = 0;
    const long got = ReadOne(source, byte);
    if (got <= 0)
        return {got < 0 ? Outcome::Error : Outcome::Nothing, {}};
    return {Outcome::Frame, {byte}};
}

} // namespace qarn
