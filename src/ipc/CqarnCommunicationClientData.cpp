#include "ipc/CqarnCommunicationClientData.h"

#include "platform/ByteOrder.h"

namespace qarn {

void CqarnCommunicationClientData::Serialize(std::vector<uint8_t>& out) const {
    out.clear();
    out.reserve(kSerializedSize);
    for (uint32_t field : {kSchema, peerAddress, peerPort, useSerial, limitValue, reservedValue})
        platform::AppendLe32(out, field);
    out.push_back(reservedFlag);
}

bool CqarnCommunicationClientData::Deserialize(std::span<const uint8_t> in) {
    if (in.size() < kSerializedSize || platform::GetLe32(in.data()) != kSchema)
        return false;
    const uint8_t* p = in.data() + 4;
    peerAddress = platform::GetLe32(p);
    peerPort = platform::GetLe32(p + 4);
    useSerial = platform::GetLe32(p + 8);
    limitValue = platform::GetLe32(p + 12);
    reservedValue = platform::GetLe32(p + 16);
    reservedFlag = p[20];
    return true;
}

} // namespace qarn
