#include "protocol/BlockSlots.h"

#include <algorithm>
#include <numeric>

namespace qarn {

std::span<const uint8_t> BlockSlots::operator[](size_t slot) const {
    if (slot >= kBlockSlotCount)
        return {};
    const size_t start = std::accumulate(m_sizes.begin(), m_sizes.begin() + slot, size_t{0});
    return std::span<const uint8_t>(m_bytes).subspan(start, m_sizes[slot]);
}

void BlockSlots::Assign(size_t slot, std::span<const uint8_t> bytes) {
    if (slot >= kBlockSlotCount)
        return;
    bytes = bytes.first(std::min(bytes.size(), kMaxSlotBytes));
    const size_t start = std::accumulate(m_sizes.begin(), m_sizes.begin() + slot, size_t{0});
    const size_t oldSize = m_sizes[slot];
    std::vector<uint8_t> rebuilt;
    rebuilt.reserve(m_bytes.size() - oldSize + bytes.size());
    const auto at = m_bytes.begin() + static_cast<std::ptrdiff_t>(start);
    rebuilt.insert(rebuilt.end(), m_bytes.begin(), at);
    rebuilt.insert(rebuilt.end(), bytes.begin(), bytes.end());
    rebuilt.insert(rebuilt.end(), at + static_cast<std::ptrdiff_t>(oldSize), m_bytes.end());
    m_bytes.swap(rebuilt);
    m_sizes[slot] = static_cast<uint8_t>(bytes.size());
}

} // namespace qarn
