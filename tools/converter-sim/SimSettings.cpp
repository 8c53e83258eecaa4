#include "SimSettings.h"

namespace qarn::sim {

uint32_t SimSettings::DirectedBroadcast() const {
    if (prefix >= 32)
        return ip;
    const uint32_t hostBits = prefix == 0 ? 0xFFFFFFFFu : (0xFFFFFFFFu >> prefix);
    return ip | hostBits;
}

} // namespace qarn::sim
