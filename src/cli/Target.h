#pragma once

#include "protocol/LANconvDevice.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qarn::cli {

// What a verb is pointed at: a converter's IPv4 address or its MAC address.
struct Target {
    enum class Kind { Ip, Mac };

    Kind kind = Kind::Ip;
    uint32_t ip = 0;  // network order (first octet in the lowest byte), when kind is Ip
    MacAddress mac{}; // when kind is Mac
};

// A MAC address in the notations people copy from other tools, upper or lower case:
//   aa:bb:cc:dd:ee:ff   aa-bb-cc-dd-ee-ff   "aa bb cc dd ee ff" (as the device list shows it)
//   aabb.ccdd.eeff      aabbccddeeff
// One separator throughout; every group has all its digits.
std::optional<MacAddress> ParseMac(std::string_view text);

// Dotted IPv4 text (as the core reads addresses) or a MAC address, surrounding blanks ignored;
// nothing for anything else.
std::optional<Target> ParseTarget(std::string_view text);

// 00:20:4a:90:00:01
std::string ColonMacText(const MacAddress& mac);

// What the target names, for messages: "198.18.1.7" or "00:20:4a:90:00:01".
std::string TargetText(const Target& target);

} // namespace qarn::cli
