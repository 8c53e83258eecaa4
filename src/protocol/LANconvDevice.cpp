#include "protocol/LANconvDevice.h"

namespace qarn {

bool LANconvDevice::HasAllAnswerBlocks() const {
    return abBlockSeen[kSlotSettings] && abBlockSeen[kSlotSerial] &&
           abBlockSeen[kSlotVersionText] && abBlockSeen[kSlotMac];
}

void LANconvDevice::RecomputeComplete() {
    bComplete = bUnreachable || HasAllAnswerBlocks();
}

uint32_t NetmaskFromPrefixLength(uint32_t prefixLength) {
    if (prefixLength == 0)
        return 0;
    if (prefixLength >= 32)
        return 0xFFFFFFFFu;
    return ~((uint32_t{1} << (32 - prefixLength)) - 1);
}

uint8_t PrefixLengthOfNetmask(uint32_t netmask) {
    uint8_t length = 0;
    for (uint32_t bit = uint32_t{1} << 31; bit != 0 && (netmask & bit) != 0; bit >>= 1)
        ++length;
    return length;
}

} // namespace qarn
