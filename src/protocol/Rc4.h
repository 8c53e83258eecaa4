#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qarn {

// The RC4 (ARC4) stream cipher, keystream from its first byte on (nothing discarded). Encryption
// and decryption are the same XOR, so applying one keystream twice restores the data.
//
//     Rc4 cipher(key, 32);
//     cipher.Discard(240);          // skip to keystream offset 240
//     cipher.Apply(buffer, 16);     // buffer ^= keystream[240..255]
//
// The state lives in the object; nothing is shared, so separate objects may run on any threads.
class Rc4 {
  public:
    // Key schedule over `keyLength` bytes; only the first 256 bytes of a longer key count. An empty
    // or null key makes a cipher whose Apply leaves data unchanged.
    Rc4(const uint8_t* key, size_t keyLength);

    // XORs the next `length` keystream bytes into data[0..length-1].
    void Apply(uint8_t* data, size_t length);

    // Advances the keystream by `count` bytes without using them.
    void Discard(size_t count);

  private:
    uint8_t NextByte();

    std::array<uint8_t, 256> m_state{};
    uint8_t m_i = 0;
    uint8_t m_j = 0;
    bool m_keyed = false;
};

// One-shot RC4 over data[0..length-1] with a fresh keystream.
void Rc4Crypt(const uint8_t* key, size_t keyLength, uint8_t* data, size_t length);

} // namespace qarn
