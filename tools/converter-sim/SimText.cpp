#include "SimText.h"

#include <charconv>
#include <cstdio>
#include <vector>

namespace qarn::sim {

namespace {

// Splits `text` at `separator`; "1.2." gives {"1", "2", ""}.
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

// A plain decimal number of at most 10 digits, nothing else (no sign, no blanks).
bool ParseDecimal(const std::string& text, uint64_t* value) {
    if (text.empty() || text.size() > 10)
        return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), *value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string IpText(uint32_t ip) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF,
                  ip & 0xFF);
    return text;
}

bool ParseIp(const std::string& text, uint32_t* ip) {
    const auto parts = Split(text, '.');
    if (parts.size() != 4)
        return false;
    uint32_t value = 0;
    for (const auto& part : parts) {
        uint64_t octet = 0;
        if (part.size() > 3 || !ParseDecimal(part, &octet) || octet > 255)
            return false;
        value = value << 8 | static_cast<uint32_t>(octet);
    }
    *ip = value;
    return true;
}

std::string MacText(const std::array<uint8_t, 6>& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

bool ParseMac(const std::string& text, std::array<uint8_t, 6>* mac) {
    if (text.size() != 17)
        return false;
    std::array<uint8_t, 6> bytes{};
    for (size_t i = 0; i < 6; ++i) {
        const int high = HexDigit(text[i * 3]);
        const int low = HexDigit(text[i * 3 + 1]);
        if (high < 0 || low < 0)
            return false;
        if (i < 5 && text[i * 3 + 2] != ':' && text[i * 3 + 2] != '-')
            return false;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    *mac = bytes;
    return true;
}

std::string VersionText(uint32_t version) {
    char text[24];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", version / 1000000, version / 10000 % 100,
                  version / 100 % 100, version % 100);
    return text;
}

bool ParseVersion(const std::string& text, uint32_t* version) {
    const auto parts = Split(text, '.');
    if (parts.size() != 4)
        return false;
    uint64_t values[4] = {};
    for (size_t i = 0; i < 4; ++i)
        if (!ParseDecimal(parts[i], &values[i]) || (i > 0 && values[i] > 99))
            return false;
    const uint64_t number = values[0] * 1000000 + values[1] * 10000 + values[2] * 100 + values[3];
    if (number > UINT32_MAX)
        return false;
    *version = static_cast<uint32_t>(number);
    return true;
}

std::string HexText(const uint8_t* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text(size * 2, '0');
    for (size_t i = 0; i < size; ++i) {
        text[i * 2] = kDigits[data[i] >> 4];
        text[i * 2 + 1] = kDigits[data[i] & 0x0F];
    }
    return text;
}

} // namespace qarn::sim
