#include "protocol/PingReachability.h"

#include "net/CPing.h"
#include "protocol/ConverterText.h"

namespace qarn {

bool PingReachability::Echo(uint32_t address) {
    CPing ping;
    return ping.PingHost(IpToText(address), kTimeoutMs, kTtl) == CPing::kReply;
}

} // namespace qarn
