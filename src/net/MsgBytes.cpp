#include "net/MsgBytes.h"

#include "platform/ByteOrder.h"

#include <utility>

namespace qarn {

namespace {

// Marker in front of every text: the byte that announces a 16-bit length, and the 16-bit value
// that means "UTF-16 text follows" instead of a length.
constexpr uint8_t kWideLength = 0xFF;
constexpr uint16_t kUnicodeMarker = 0xFFFE;
// A 16-bit length of 0xFFFF announces a 32-bit one. 0xFFFFFFFF in that field would announce a
// 64-bit length, which this format does not carry, so neither side uses it.
constexpr uint16_t kWide16 = 0xFFFF;
constexpr uint32_t kWide32 = 0xFFFFFFFF;

// Size of a record with no text and no data, length forms included: 42.
constexpr size_t kFixedSize = 4 + 4 + 4 + 4 + 16 + 3 + 1 + 4 + 2;

using platform::AppendLe16;
using platform::AppendLe32;

// Reads little-endian fields from a byte range; every read fails once the range is exhausted.
struct ByteCursor {
    const uint8_t* data;
    size_t left;

    bool Take(size_t count, const uint8_t*& where) {
        if (count > left)
            return false;
        where = data;
        data += count;
        left -= count;
        return true;
    }
    bool U8(uint8_t& value) {
        const uint8_t* p = nullptr;
        if (!Take(1, p))
            return false;
        value = p[0];
        return true;
    }
    bool U16(uint16_t& value) {
        const uint8_t* p = nullptr;
        if (!Take(2, p))
            return false;
        value = platform::GetLe16(p);
        return true;
    }
    bool U32(uint32_t& value) {
        const uint8_t* p = nullptr;
        if (!Take(4, p))
            return false;
        value = platform::GetLe32(p);
        return true;
    }
    bool I32(int32_t& value) {
        uint32_t raw = 0;
        if (!U32(raw))
            return false;
        value = static_cast<int32_t>(raw);
        return true;
    }
};

void PutTime(std::vector<uint8_t>& out, const platform::SystemTime& t) {
    for (uint16_t field :
         {t.year, t.month, t.dayOfWeek, t.day, t.hour, t.minute, t.second, t.milliseconds})
        AppendLe16(out, field);
}

bool ReadTime(ByteCursor& in, platform::SystemTime& t) {
    for (uint16_t* field : {&t.year, &t.month, &t.dayOfWeek, &t.day, &t.hour, &t.minute, &t.second,
                            &t.milliseconds}) {
        if (!in.U16(*field))
            return false;
    }
    return true;
}

void PutText(std::vector<uint8_t>& out, const std::u16string& text) {
    out.push_back(kWideLength);
    AppendLe16(out, kUnicodeMarker);
    const size_t length = text.size();
    if (length < kWideLength) {
        out.push_back(static_cast<uint8_t>(length));
    } else if (length < kUnicodeMarker) {
        out.push_back(kWideLength);
        AppendLe16(out, static_cast<uint16_t>(length));
    } else {
        out.push_back(kWideLength);
        AppendLe16(out, kWide16);
        AppendLe32(out, static_cast<uint32_t>(length));
    }
    for (char16_t unit : text)
        AppendLe16(out, static_cast<uint16_t>(unit));
}

// "FF FE FF" then the length in one of its three forms: 05 -> 5; FF 2C 01 -> 300;
// FF FF FF 00 00 01 00 -> 65536.
bool ReadText(ByteCursor& in, std::u16string& text) {
    uint8_t lead = 0;
    uint16_t marker = 0;
    if (!in.U8(lead) || lead != kWideLength || !in.U16(marker) || marker != kUnicodeMarker)
        return false;
    uint8_t shortLength = 0;
    if (!in.U8(shortLength))
        return false;
    uint32_t length = shortLength;
    if (shortLength == kWideLength) {
        uint16_t length16 = 0;
        if (!in.U16(length16) || length16 == kUnicodeMarker)
            return false;
        length = length16;
        if (length16 == kWide16 && (!in.U32(length) || length == kWide32))
            return false;
    }
    const uint8_t* units = nullptr;
    if (!in.Take(static_cast<size_t>(length) * 2, units))
        return false; // checked before allocating: a declared length needs its bytes
    text.resize(length);
    for (size_t i = 0; i < length; ++i)
        text[i] = static_cast<char16_t>(platform::GetLe16(units + 2 * i));
    return true;
}

void PutData(std::vector<uint8_t>& out, const std::vector<uint8_t>& data) {
    if (data.size() < kWide16) {
        AppendLe16(out, static_cast<uint16_t>(data.size()));
    } else {
        AppendLe16(out, kWide16);
        AppendLe32(out, static_cast<uint32_t>(data.size()));
    }
    out.insert(out.end(), data.begin(), data.end());
}

bool ReadData(ByteCursor& in, std::vector<uint8_t>& data) {
    uint16_t count16 = 0;
    if (!in.U16(count16))
        return false;
    uint32_t count = count16;
    if (count16 == kWide16 && (!in.U32(count) || count == kWide32))
        return false;
    const uint8_t* bytes = nullptr;
    if (!in.Take(count, bytes))
        return false;
    data.assign(bytes, bytes + count);
    return true;
}

bool ReadMsg(ByteCursor& in, CMsg& msg) {
    uint32_t schema = 0;
    return in.U32(schema) && schema == kMsgSchema && in.U32(msg.address) && in.I32(msg.port) &&
           in.I32(msg.userValue) && ReadTime(in, msg.time) && ReadText(in, msg.text) &&
           in.I32(msg.tag) && ReadData(in, msg.data);
}

} // namespace

bool MsgToBytes(const CMsg& msg, std::vector<uint8_t>& out) noexcept {
    out.clear();
    // Lengths from 0xFFFFFFFF up would need the 64-bit form, which the format lacks.
    if (msg.text.size() >= kWide32 || msg.data.size() >= kWide32)
        return false;
    try {
        out.reserve(kFixedSize + 6 + msg.text.size() * 2 + 4 + msg.data.size());
        AppendLe32(out, kMsgSchema);
        AppendLe32(out, msg.address);
        AppendLe32(out, static_cast<uint32_t>(msg.port));
        AppendLe32(out, static_cast<uint32_t>(msg.userValue));
        PutTime(out, msg.time);
        PutText(out, msg.text);
        AppendLe32(out, static_cast<uint32_t>(msg.tag));
        PutData(out, msg.data);
    } catch (...) {
        out.clear();
        return false;
    }
    return !out.empty();
}

bool BytesToMsg(const uint8_t* data, size_t size, CMsg& out) noexcept {
    if (data == nullptr || size == 0)
        return false;
    try {
        CMsg msg;
        ByteCursor in{data, size};
        if (!ReadMsg(in, msg))
            return false;
        out = std::move(msg);
        return true;
    } catch (...) {
        return false;
    }
}

bool BytesToMsg(const std::vector<uint8_t>& in, CMsg& out) noexcept {
    return BytesToMsg(in.data(), in.size(), out);
}

} // namespace qarn
