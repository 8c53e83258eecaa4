#include "protocol/ConverterText.h"

#include "platform/TextCodec.h"

#include <array>
#include <cstdio>

namespace qarn {

namespace {

constexpr std::array<std::string_view, 3> kSystemTypeNames = {"rilo", "tesk", "vardo"};

std::string FourNumbers(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return std::to_string(a) + '.' + std::to_string(b) + '.' + std::to_string(c) + '.' +
           std::to_string(d);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The leading digits of `token` as a number mod 256 (0 without digits). Reduces as it goes, so
// any number of digits stays in range: "300" -> 44.
uint32_t LeadingNumberMod256(std::string_view token) {
    uint32_t value = 0;
    for (char c : token) {
        if (!IsDigit(c))
            break;
        value = (value * 10 + static_cast<uint32_t>(c - '0')) % 256;
    }
    return value;
}

} // namespace

std::string IpToText(uint32_t address) {
    return FourNumbers(address & 0xFF, (address >> 8) & 0xFF, (address >> 16) & 0xFF,
                       address >> 24);
}

std::string HostOrderIpToText(uint32_t address) {
    return FourNumbers(address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF,
                       address & 0xFF);
}

std::optional<uint32_t> ParseIpText(std::string_view text) {
    uint32_t address = 0;
    size_t at = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (at >= text.size() || text[at] != '.')
                return std::nullopt;
            ++at;
        }
        uint32_t value = 0;
        size_t digits = 0;
        while (at < text.size() && IsDigit(text[at]) && digits < 3) {
            value = value * 10 + static_cast<uint32_t>(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || value > 255)
            return std::nullopt;
        address |= value << (8 * octet);
    }
    if (at != text.size())
        return std::nullopt;
    return address;
}

std::string VersionText(uint32_t version) {
    return FourNumbers(version / 1000000, version / 10000 % 100, version / 100 % 100,
                       version % 100);
}

uint32_t ParseVersion(std::string_view text) {
    std::array<uint32_t, 4> numbers{};
    size_t count = 0;
    std::string token;
    auto endToken = [&] {
        if (!token.empty()) {
            if (count < numbers.size())
                numbers[count] = LeadingNumberMod256(token);
            ++count;
            token.clear();
        }
    };
    for (char c : text) {
        if (c == ' ')
            continue;
        if (c == '.' || c == ',')
            endToken();
        else
            token += c;
    }
    endToken();
    if (count != numbers.size())
        return 0;
    return ((numbers[0] * 100 + numbers[1]) * 100 + numbers[2]) * 100 + numbers[3];
}

std::string MacText(const MacAddress& mac) {
    char text[3 * kMacSize] = {};
    std::snprintf(text, sizeof text, "%02x %02x %02x %02x %02x %02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string SerialColumnText(std::string_view serial) {
    const std::u16string wide = platform::Utf8ToUtf16(serial);
    const size_t size = wide.size();
    const std::u16string first = wide.substr(0, 6);
    const std::u16string middle = size > 6 ? wide.substr(6, 4) : std::u16string();
    const std::u16string last = size > 4 ? wide.substr(size - 4) : wide;
    return platform::Utf16ToUtf8(first) + '-' + platform::Utf16ToUtf8(middle) + '-' +
           platform::Utf16ToUtf8(last);
}

std::string Latin1FieldToText(const uint8_t* bytes, size_t size) {
    std::u16string wide;
    for (size_t i = 0; i < size && bytes[i] != 0; ++i)
        wide += static_cast<char16_t>(bytes[i]);
    return platform::Utf16ToUtf8(wide);
}

std::vector<uint8_t> TextToLowBytes(std::string_view text, size_t maxCharacters) {
    const std::u16string wide = platform::Utf8ToUtf16(text);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < wide.size() && i < maxCharacters; ++i)
        bytes.push_back(static_cast<uint8_t>(wide[i] & 0xFF));
    return bytes;
}

std::string LetterText(uint8_t letter) {
    return Latin1FieldToText(&letter, 1);
}

std::optional<std::string_view> SystemTypeName(uint8_t systemType) {
    if (systemType < kSystemTypeNames.size())
        return kSystemTypeNames[systemType];
    return std::nullopt;
}

std::optional<uint8_t> SystemTypeFromName(std::string_view name) {
    for (size_t i = 0; i < kSystemTypeNames.size(); ++i) {
        if (kSystemTypeNames[i] == name)
            return static_cast<uint8_t>(i);
    }
    return std::nullopt;
}

} // namespace qarn
