// A shared queue's block as another user of it may leave it: the input is the header and ring as
// they stand (the capacity this process learned is taken from the input's length, as a reader that
// mapped the block knows it). Reads and writes must stay inside the ring, report a ring that does
// not add up, and leave one that does.
#include "ipc/SharedRing.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using qarn::SharedRing;
    if (size < SharedRing::kHeaderSize + 1 || size > 1 << 16)
        return 0;
    // 4-byte aligned storage for the header words.
    std::vector<uint32_t> storage((size + 3) / 4 + 1, 0);
    auto* block = reinterpret_cast<uint8_t*>(storage.data());
    std::memcpy(block, data, size);
    const auto capacity = static_cast<uint32_t>(size - SharedRing::kHeaderSize);
    SharedRing ring(block, capacity);

    std::vector<uint8_t> out;
    for (int i = 0; i < 64; ++i) {
        const SharedRing::Result result = ring.Read(out);
        if (result != SharedRing::Result::Done)
            break;
        Check(SharedRing::RecordSize(out.size()) <= capacity);
    }
    // Whatever happened, the header now adds up: a write that fits goes in and reads back.
    const std::vector<uint8_t> message{1, 2, 3, 4, 5};
    const uint32_t inUse = ring.Load(SharedRing::kInUseOffset);
    Check(inUse <= capacity);
    const SharedRing::Result written = ring.Write(message);
    Check(written != SharedRing::Result::Corrupt);
    if (written == SharedRing::Result::Done && inUse == 0) {
        Check(ring.Read(out) == SharedRing::Result::Done);
        Check(out == message);
    }
    return 0;
}
