#include "cli/Target.h"

#include "protocol/ConverterText.h"

#include <cstdio>

namespace qarn::cli {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Twelve hex digits in groups of `groupDigits`, the groups joined by `separator` (0: none).
std::optional<MacAddress> ParseGrouped(std::string_view text, size_t groupDigits, char separator) {
    const size_t groups = 12 / groupDigits;
    const size_t expected = 12 + (separator != 0 ? groups - 1 : 0);
    if (text.size() != expected)
        return std::nullopt;
    MacAddress mac{};
    size_t digit = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool separatorPlace = separator != 0 && (i + 1) % (groupDigits + 1) == 0;
        if (separatorPlace) {
            if (text[i] != separator)
                return std::nullopt;
            continue;
        }
        const int value = HexValue(text[i]);
        if (value < 0)
            return std::nullopt;
        mac[digit / 2] = static_cast<uint8_t>(mac[digit / 2] << 4 | value);
        ++digit;
    }
    return mac;
}

} // namespace

std::optional<MacAddress> ParseMac(std::string_view text) {
    for (const char separator : {':', '-', ' '}) {
        if (auto mac = ParseGrouped(text, 2, separator))
            return mac;
    }
    if (auto mac = ParseGrouped(text, 4, '.'))
        return mac;
    return ParseGrouped(text, 12, 0);
}

std::optional<Target> ParseTarget(std::string_view text) {
    text = Trim(text);
    if (auto ip = ParseIpText(text))
        return Target{Target::Kind::Ip, *ip, {}};
    if (auto mac = ParseMac(text))
        return Target{Target::Kind::Mac, 0, *mac};
    return std::nullopt;
}

std::string ColonMacText(const MacAddress& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string TargetText(const Target& target) {
    return target.kind == Target::Kind::Ip ? IpToText(target.ip) : ColonMacText(target.mac);
}

} // namespace qarn::cli
