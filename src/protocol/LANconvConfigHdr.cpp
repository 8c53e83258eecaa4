#include "protocol/LANconvConfigHdr.h"

#include "platform/ByteOrder.h"

namespace qarn {

std::array<uint8_t, LANconvConfigHdr::kSize> LANconvConfigHdr::Encode() const {
    std::array<uint8_t, kSize> bytes{};
    EncodeTo(bytes.data(), bytes.size());
    return bytes;
}

bool LANconvConfigHdr::EncodeTo(uint8_t* out, size_t size) const {
    if (out == nullptr || size < kSize)
        return false;
    out[0] = byType;
    out[1] = byCmd;
    out[2] = byAnswerCmd;
    out[3] = bySubCmd;
    platform::PutLe32(out + 4, dwBlock);
    platform::PutLe32(out + 8, dwLength);
    platform::PutLe32(out + 12, dwSeed);
    return true;
}

bool LANconvConfigHdr::DecodeFrom(const uint8_t* data, size_t size) {
    if (data == nullptr || size < kSize)
        return false;
    byType = data[0];
    byCmd = data[1];
    byAnswerCmd = data[2];
    bySubCmd = data[3];
    dwBlock = platform::GetLe32(data + 4);
    dwLength = platform::GetLe32(data + 8);
    dwSeed = platform::GetLe32(data + 12);
    return true;
}

} // namespace qarn
