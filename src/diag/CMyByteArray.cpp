#include "diag/CMyByteArray.h"

#include "platform/SecureZero.h"

#include <algorithm>
#include <new>

namespace qarn {

namespace {

// The wipe is one the optimiser must keep, although the buffer is freed right after.
void WipeAndFree(uint8_t* buffer, uint32_t size) {
    if (buffer == nullptr)
        return;
    platform::SecureZero(buffer, size);
    delete[] buffer;
}

} // namespace

CMyByteArray::CMyByteArray(uint32_t size) {
    if (size == 0)
        return;
    m_pbyData = new (std::nothrow) uint8_t[size];
    if (m_pbyData != nullptr)
        m_dwSize = size;
}

CMyByteArray::~CMyByteArray() {
    WipeAndFree(m_pbyData, m_dwSize);
}

bool CMyByteArray::Resize(uint32_t size) {
    if (size == m_dwSize)
        return true;
    uint8_t* buffer = nullptr;
    if (size != 0) {
        buffer = new (std::nothrow) uint8_t[size];
        if (buffer == nullptr)
            return false;
        if (m_pbyData != nullptr)
            std::copy_n(m_pbyData, std::min(size, m_dwSize), buffer);
    }
    WipeAndFree(m_pbyData, m_dwSize);
    m_pbyData = buffer;
    m_dwSize = size;
    return true;
}

} // namespace qarn
