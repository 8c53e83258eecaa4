// Arbitrary bytes as a received converter datagram: decode the header, unscramble the payload in a
// copy, and check that the header re-encodes to its bytes and that scrambling again restores the
// payload.
#include "protocol/LANconvConfigHdr.h"
#include "protocol/Scramble.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qarn::LANconvConfigHdr hdr;
    if (!hdr.DecodeFrom(data, size)) {
        if (size >= qarn::LANconvConfigHdr::kSize)
            std::abort();
        return 0;
    }
    const auto encoded = hdr.Encode();
    if (!std::equal(encoded.begin(), encoded.end(), data))
        std::abort();

    const std::vector<uint8_t> payload(data + qarn::LANconvConfigHdr::kSize, data + size);
    if (payload.size() > INT32_MAX)
        return 0;
    const auto length = static_cast<int32_t>(payload.size());
    std::vector<uint8_t> plain = payload;
    qarn::ScramblePayload(hdr.dwSeed, plain.data(), length);
    std::vector<uint8_t> back = plain;
    qarn::ScramblePayload(hdr.dwSeed, back.data(), length);
    if (back != payload)
        std::abort();
    return 0;
}
