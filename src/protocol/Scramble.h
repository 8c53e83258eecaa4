#pragma once

#include <cstdint>

namespace qarn {

// Step between the eight words of the scrambling key; the converters use the same constant.
inline constexpr uint32_t kScrambleStep = 0x3D2B71C5;

// Size of the key that ScramblePayload builds from a seed.
inline constexpr uint32_t kScrambleKeySize = 32;

// A seed for dwSeed: re-seeds the C library's process-wide generator with the current time in
// whole seconds and combines two draws of 15 bits, (first << 16) | second. Bits 15 and 31 are
// therefore always 0, and two calls within one second return the same seed.
uint32_t MakeSeed();

// RC4 over buffer[0..length-1] in place, keyed by eight little-endian words
// seed - k * kScrambleStep (k = 0..7, modulo 2^32). Its own inverse: the same call with the same
// seed unscrambles. A null buffer or a length of 0 or less leaves everything untouched.
// Example: seed 1 gives the key words 00000001, C2D48E3C, 85A91C77, 487DAAB2, ...
void ScramblePayload(uint32_t seed, uint8_t* buffer, int32_t length);

} // namespace qarn
