#include "ipc/SharedRing.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

namespace qarn {

// The header words are used in place as the machine's own integers; the layout is little-endian.
static_assert(std::endian::native == std::endian::little);

uint32_t SharedRing::Load(size_t offset) const {
    auto* word = reinterpret_cast<uint32_t*>(m_block + offset);
    return std::atomic_ref<uint32_t>(*word).load(std::memory_order_relaxed);
}

void SharedRing::Store(size_t offset, uint32_t value) {
    auto* word = reinterpret_cast<uint32_t*>(m_block + offset);
    std::atomic_ref<uint32_t>(*word).store(value, std::memory_order_relaxed);
}

void SharedRing::Initialise() {
    Store(kReadOffset, 0);
    Store(kWriteOffset, 0);
    Store(kInUseOffset, 0);
    Store(kCapacityOffset, m_capacity);
    Store(kLockOffset, 0);
    Store(kMagicOffset, kMagic);
}

bool SharedRing::Consistent(uint32_t readAt, uint32_t writeAt, uint32_t inUse) const {
    if (m_capacity == 0 || readAt >= m_capacity || writeAt >= m_capacity || inUse > m_capacity)
        return false;
    return (static_cast<uint64_t>(readAt) + inUse) % m_capacity == writeAt;
}

void SharedRing::Reset() {
    Store(kReadOffset, 0);
    Store(kWriteOffset, 0);
    Store(kInUseOffset, 0);
}

void SharedRing::CopyIn(uint32_t at, const uint8_t* from, size_t count) {
    if (count == 0)
        return;
    const size_t first = std::min<size_t>(count, m_capacity - at);
    std::memcpy(Ring() + at, from, first);
    std::memcpy(Ring(), from + first, count - first);
}

void SharedRing::CopyOut(uint32_t at, uint8_t* to, size_t count) const {
    if (count == 0)
        return;
    const size_t first = std::min<size_t>(count, m_capacity - at);
    std::memcpy(to, Ring() + at, first);
    std::memcpy(to + first, Ring(), count - first);
}

SharedRing::Result SharedRing::Write(std::span<const uint8_t> payload) {
    const uint32_t readAt = Load(kReadOffset);
    const uint32_t writeAt = Load(kWriteOffset);
    const uint32_t inUse = Load(kInUseOffset);
    if (!Consistent(readAt, writeAt, inUse)) {
        Reset();
        return Result::Corrupt;
    }
    const uint64_t record = RecordSize(payload.size());
    if (inUse + record > m_capacity)
        return Result::Discarded;
    uint8_t length[4];
    const auto size = static_cast<uint32_t>(payload.size());
    std::memcpy(length, &size, sizeof length);
    // The length word is copied with the wrap as well: a capacity that is no multiple of 4 (a
    // block another program made) may split it.
    CopyIn(writeAt, length, sizeof length);
    CopyIn(static_cast<uint32_t>((writeAt + 4ull) % m_capacity), payload.data(), payload.size());
    Store(kWriteOffset, static_cast<uint32_t>((writeAt + record) % m_capacity));
    Store(kInUseOffset, static_cast<uint32_t>(inUse + record));
    return Result::Done;
}

SharedRing::Result SharedRing::Read(std::vector<uint8_t>& out) {
    out.clear();
    const uint32_t readAt = Load(kReadOffset);
    const uint32_t writeAt = Load(kWriteOffset);
    const uint32_t inUse = Load(kInUseOffset);
    if (!Consistent(readAt, writeAt, inUse)) {
        Reset();
        return Result::Corrupt;
    }
    if (inUse == 0)
        return Result::Empty;
    uint8_t lengthBytes[4];
    if (inUse < sizeof lengthBytes) {
        Reset();
        return Result::Corrupt;
    }
    CopyOut(readAt, lengthBytes, sizeof lengthBytes);
    uint32_t length = 0;
    std::memcpy(&length, lengthBytes, sizeof length);
    const uint64_t record = RecordSize(length);
    if (record > inUse) {
        Reset();
        return Result::Corrupt;
    }
    out.resize(length);
    CopyOut(static_cast<uint32_t>((readAt + 4ull) % m_capacity), out.data(), length);
    Store(kReadOffset, static_cast<uint32_t>((readAt + record) % m_capacity));
    Store(kInUseOffset, static_cast<uint32_t>(inUse - record));
    return Result::Done;
}

} // namespace qarn
