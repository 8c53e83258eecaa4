#include "protocol/Rc4.h"

#include <utility>

namespace qarn {

Rc4::Rc4(const uint8_t* key, size_t keyLength) {
    if (key == nullptr || keyLength == 0)
        return;
    for (size_t i = 0; i < m_state.size(); ++i)
        m_state[i] = static_cast<uint8_t>(i);
    uint8_t j = 0;
    for (size_t i = 0; i < m_state.size(); ++i) {
        j = static_cast<uint8_t>(j + m_state[i] + key[i % keyLength]);
        std::swap(m_state[i], m_state[j]);
    }
    m_keyed = true;
}

uint8_t Rc4::NextByte() {
    m_i = static_cast<uint8_t>(m_i + 1);
    m_j = static_cast<uint8_t>(m_j + m_state[m_i]);
    std::swap(m_state[m_i], m_state[m_j]);
    return m_state[static_cast<uint8_t>(m_state[m_i] + m_state[m_j])];
}

void Rc4::Apply(uint8_t* data, size_t length) {
    if (!m_keyed || data == nullptr)
        return;
    for (size_t n = 0; n < length; ++n)
        data[n] ^= NextByte();
}

void Rc4::Discard(size_t count) {
    if (!m_keyed)
        return;
    for (size_t n = 0; n < count; ++n)
        NextByte();
}

void Rc4Crypt(const uint8_t* key, size_t keyLength, uint8_t* data, size_t length) {
    Rc4 cipher(key, keyLength);
    cipher.Apply(data, length);
}

} // namespace qarn
