#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qarn::platform {

// Helpers for turning arbitrary names into file and object names: escapes as %XX and a short,
// stable hash that keeps over-long names distinct when they have to be cut.

// 64-bit FNV-1a of the bytes of `text`: stable across runs and machines.
constexpr uint64_t Fnv1a(std::string_view text) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// Appends the lowest `digits` hex digits of `value`, upper case: (0x2F, 2) -> "2F".
inline void AppendHex(std::string& out, uint64_t value, int digits) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out.push_back(kHex[(value >> shift) & 0xF]);
}

} // namespace qarn::platform
