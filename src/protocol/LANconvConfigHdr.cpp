#include "protocol/LANconvConfigHdr.h"

namespace qarn {

namespace {

void PutU32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t GetU32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
           static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

} // namespace

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
    PutU32(out + 4, dwBlock);
    PutU32(out + 8, dwLength);
    PutU32(out + 12, dwSeed);
    return true;
}

bool LANconvConfigHdr::DecodeFrom(const uint8_t* data, size_t size) {
    if (data == nullptr || size < kSize)
        return false;
    byType = data[0];
    byCmd = data[1];
    byAnswerCmd = data[2];
    bySubCmd = data[3];
    dwBlock = GetU32(data + 4);
    dwLength = GetU32(data + 8);
    dwSeed = GetU32(data + 12);
    return true;
}

} // namespace qarn
