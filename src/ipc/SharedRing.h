#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qarn {

// The ring buffer of a shared queue block, read and written in place. The block is
//
//   offset 0  lock word (0 free, else the holder's token)     offset 12  read offset
//   offset 4  magic 0xBEAFDEAD                                 offset 16  write offset
//   offset 8  capacity of the ring in bytes                    offset 20  bytes in use
//   offset 24 the ring: records of a 32-bit length L, L payload bytes, padding to a multiple of 4
//
// all 32-bit little-endian. Any process that may write the block may also write nonsense into it,
// so nothing read from it is trusted: the capacity is the one this process learned when it mapped
// the block (never re-read), every offset and length is checked against it before use, and each
// header field is read once per operation. A header or record that does not add up is reported as
// Corrupt and the ring is emptied, so that the queue goes on working after one bad writer.
//
// The caller holds the block's lock word around Write and Read (CSharedQueue does).
class SharedRing {
  public:
    static constexpr uint32_t kMagic = 0xBEAFDEAD;
    static constexpr size_t kHeaderSize = 24;
    static constexpr size_t kLockOffset = 0;
    static constexpr size_t kMagicOffset = 4;
    static constexpr size_t kCapacityOffset = 8;
    static constexpr size_t kReadOffset = 12;
    static constexpr size_t kWriteOffset = 16;
    static constexpr size_t kInUseOffset = 20;

    enum class Result { Done, Empty, Discarded, Corrupt };

    // `block` is 4-byte aligned and holds kHeaderSize + `capacity` bytes.
    SharedRing(uint8_t* block, uint32_t capacity) : m_block(block), m_capacity(capacity) {}

    // The room a message of `length` payload bytes takes: 4 + length rounded up to 4. 5 -> 12.
    static uint64_t RecordSize(uint64_t length) { return 4 + (length + 3) / 4 * 4; }

    // Writes a fresh header: magic, capacity, everything else 0.
    void Initialise();

    // Appends one record: Done, or Discarded when it does not fit the free room (the ring is left
    // as it was), or Corrupt (then emptied).
    Result Write(std::span<const uint8_t> payload);

    // Takes the oldest record into `out`: Done, Empty (nothing waits; `out` emptied) or Corrupt.
    Result Read(std::vector<uint8_t>& out);

    // Header fields as they stand (each one read once).
    uint32_t Load(size_t offset) const;
    void Store(size_t offset, uint32_t value);
    uint32_t Capacity() const { return m_capacity; }

  private:
    // True when read offset, write offset and bytes in use describe a possible ring.
    bool Consistent(uint32_t readAt, uint32_t writeAt, uint32_t inUse) const;
    void Reset();
    void CopyIn(uint32_t at, const uint8_t* from, size_t count);
    void CopyOut(uint32_t at, uint8_t* to, size_t count) const;
    uint8_t* Ring() const { return m_block + kHeaderSize; }

    uint8_t* m_block;
    uint32_t m_capacity;
};

} // namespace qarn
