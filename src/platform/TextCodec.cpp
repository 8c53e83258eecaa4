#include "platform/TextCodec.h"

#include <cstdint>

namespace qarn::platform {

namespace {

constexpr char16_t kReplacement = u'\uFFFD';

bool IsHighSurrogate(uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Decodes the sequence whose lead byte was just taken from `utf8`; `pos` is the byte after it.
// On success `code` holds the code point and `pos` is past the sequence. On failure `pos` stays
// at the first byte that does not belong, so that it is read again as the start of what follows.
bool DecodeSequence(uint8_t lead, std::string_view utf8, size_t& pos, uint32_t& code) {
    // Trail count and the allowed range of the first trail byte, which excludes overlong forms,
    // surrogates and code points above U+10FFFF.
    int trails = 0;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trails = 1;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trails = 2;
        code = lead & 0x0Fu;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trails = 3;
        code = lead & 0x07u;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return false; // a byte that never starts a sequence
    }
    for (int k = 0; k < trails; ++k) {
        if (pos >= utf8.size())
            return false;
        const auto trail = static_cast<uint8_t>(utf8[pos]);
        if (trail < low || trail > high)
            return false;
        code = (code << 6) | (trail & 0x3Fu);
        ++pos;
        low = 0x80;
        high = 0xBF;
    }
    return true;
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

} // namespace

std::u16string Utf8ToUtf16(std::string_view utf8, bool* wellFormed) {
    std::u16string out;
    out.reserve(utf8.size());
    bool clean = true;
    size_t pos = 0;
    while (pos < utf8.size()) {
        const auto lead = static_cast<uint8_t>(utf8[pos++]);
        uint32_t code = lead;
        if (lead >= 0x80 && !DecodeSequence(lead, utf8, pos, code)) {
            out.push_back(kReplacement);
            clean = false;
        } else if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    if (wellFormed != nullptr)
        *wellFormed = clean;
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        const uint32_t unit = utf16[i];
        if (IsHighSurrogate(unit) && i + 1 < utf16.size() && IsLowSurrogate(utf16[i + 1])) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (utf16[i + 1] - 0xDC00u));
            ++i;
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

} // namespace qarn::platform
