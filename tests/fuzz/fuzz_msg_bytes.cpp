// Arbitrary bytes into the record reader. Whatever it accepts must serialise and read back to an
// equal record, and serialising that again must give the same bytes (trailing input is ignored,
// so only records, not inputs, are compared).
#include "net/MsgBytes.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qarn::CMsg msg;
    if (!qarn::BytesToMsg(data, size, msg))
        return 0;
    std::vector<uint8_t> bytes;
    if (!qarn::MsgToBytes(msg, bytes))
        std::abort();
    if (bytes.size() > size)
        std::abort(); // canonical form is never longer than what was accepted
    qarn::CMsg again;
    if (!qarn::BytesToMsg(bytes, again) || !(again == msg))
        std::abort();
    std::vector<uint8_t> bytesAgain;
    if (!qarn::MsgToBytes(again, bytesAgain) || bytesAgain != bytes)
        std::abort();
    return 0;
}
