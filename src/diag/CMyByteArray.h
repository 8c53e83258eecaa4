#pragma once

#include <cstdint>

namespace qarn {

// An owned byte buffer for values read from the settings store. Its old content is wiped with
// zeros when it is resized to 0 or destroyed, so bytes of a value do not linger in freed memory.
class CMyByteArray {
  public:
    CMyByteArray() = default;
    // Allocates `size` bytes, not cleared. If the allocation fails the array is empty (size 0).
    explicit CMyByteArray(uint32_t size);
    CMyByteArray(const CMyByteArray&) = delete;
    CMyByteArray& operator=(const CMyByteArray&) = delete;
    virtual ~CMyByteArray();

    // 0: wipe and free the buffer. Another size: a new buffer holding the first min(old, new)
    // bytes of the old one (the rest not cleared), the old one wiped and freed. The same size:
    // nothing. False, with the array unchanged, when a new buffer cannot be allocated.
    bool Resize(uint32_t size);

    uint32_t Size() const { return m_dwSize; }
    uint8_t* Data() { return m_pbyData; }
    const uint8_t* Data() const { return m_pbyData; }

  private:
    uint32_t m_dwSize = 0;
    uint8_t* m_pbyData = nullptr; // null exactly when the size is 0
};

} // namespace qarn
