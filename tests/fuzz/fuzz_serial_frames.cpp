// The serial read modes over arbitrary line bytes, the source handing them out in pieces of the
// sizes the reader asks for (one byte, or the rest of a frame). Every frame returned must follow
// its mode's rule and fit the frame buffer; the readers must stop at the end of the bytes.
#include "ipc/SerialFrameReader.h"
#include "platform/ByteOrder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using qarn::SerialFrameReader;
    if (size < 1)
        return 0;
    // The first byte picks the frame buffer's size: 0 .. 1020 bytes.
    const size_t bufferSize = static_cast<size_t>(data[0]) * 4;
    const uint8_t* line = data + 1;
    const size_t length = size - 1;

    for (int mode = 0; mode < 4; ++mode) {
        size_t at = 0;
        const SerialFrameReader::ByteSource source = [&](uint8_t* out, size_t max) -> long {
            const size_t count = std::min(max, length - at);
            if (count > 0)
                std::memcpy(out, line + at, count);
            at += count;
            return static_cast<long>(count);
        };
        for (int reads = 0; reads < 4096 && at < length; ++reads) {
            SerialFrameReader::Result result;
            switch (mode) {
            case 0:
                result = SerialFrameReader::ReadStxFrame(source, bufferSize);
                break;
            case 1:
                result = SerialFrameReader::ReadDebugFrame(source, bufferSize);
                break;
            case 2:
                result = SerialFrameReader::ReadDirect(source);
                break;
            default:
                result = SerialFrameReader::ReadChar(source);
                break;
            }
            Check(result.outcome != SerialFrameReader::Outcome::Error);
            if (result.outcome != SerialFrameReader::Outcome::Frame) {
                Check(result.bytes.empty());
                continue;
            }
            const auto& frame = result.bytes;
            Check(!frame.empty());
            if (mode == 0) {
                Check(frame[0] == SerialFrameReader::kStx && frame.size() >= 6 &&
                      frame.size() < bufferSize &&
                      frame.size() == SerialFrameReader::StxFrameLength(frame.data()));
            } else if (mode == 1 && frame.size() == 1) {
                Check(frame[0] == 'C' || frame[0] == 'c');
            } else if (mode == 1) {
                Check(frame[0] == SerialFrameReader::kDebugStart && frame.size() >= 5 &&
                      frame.size() < bufferSize &&
                      frame.size() == qarn::platform::GetLe16(frame.data() + 1));
            } else if (mode == 2) {
                Check(frame.size() <= SerialFrameReader::kDirectReadSize);
            } else {
                Check(frame.size() == 1);
            }
        }
    }
    return 0;
}
