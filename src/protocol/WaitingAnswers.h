#pragma once

#include "net/CMsg.h"
#include "protocol/ConverterAnswer.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

namespace qarn {

// Datagrams waiting for the device list, grouped by source. A converter answers both copies of a
// broadcast request (limited and directed) with the same datagrams, and a later request again:
// of each kind (the configuration answer, the block answer of one slot) only the latest can
// still change its row, because each kind writes the same fields every time. So a datagram
// replaces the waiting one of its source and kind, and the bounds count sources and bytes rather
// than datagrams: a fleet of ten thousand converters fits in a few MiB however often it repeats
// itself, while a flood of spoofed sources or of large datagrams stays bounded.
//
// Sources are served in the order in which they first came to wait; a source's datagrams go
// together, in the order in which they came (a replacing datagram counts as come last). Not
// thread-safe: it belongs to the thread that owns the list.
class WaitingAnswers {
  public:
    // What one waiting datagram is taken to cost: its bytes and the bookkeeping around them.
    static constexpr size_t kOverheadBytes = sizeof(CMsg) + 64;

    WaitingAnswers(size_t maxSources, size_t maxBytes);
    WaitingAnswers(const WaitingAnswers&) = delete;
    WaitingAnswers& operator=(const WaitingAnswers&) = delete;

    // Lets `msg` (which CheckAnswer found to be `check`) wait, in place of the waiting datagram
    // of its source and kind if there is one. False, leaving `msg` with the caller, when that
    // would pass a bound.
    bool Add(std::unique_ptr<CMsg>& msg, const AnswerCheck& check);
    // The next datagram to hand on, or null when none waits.
    std::unique_ptr<CMsg> Take();

    bool HasSource(uint32_t source) const { return m_bySource.count(source) != 0; }
    bool IsEmpty() const { return m_count == 0; }
    size_t GetCount() const { return m_count; }
    size_t GetSourceCount() const { return m_bySource.size(); }
    size_t GetBytes() const { return m_bytes; }
    // Datagrams that took the place of an earlier one of their source and kind, since the start.
    uint64_t GetReplacedCount() const { return m_replaced; }
    void Clear();

    static size_t CostOf(const CMsg& msg) { return msg.data.size() + kOverheadBytes; }

  private:
    struct Entry {
        int kind = 0;
        std::unique_ptr<CMsg> msg;
    };

    static int KindOf(const AnswerCheck& check);

    const size_t m_maxSources;
    const size_t m_maxBytes;
    std::deque<uint32_t> m_order; // sources, oldest first; each once
    std::unordered_map<uint32_t, std::vector<Entry>> m_bySource;
    size_t m_count = 0;
    size_t m_bytes = 0;
    uint64_t m_replaced = 0;
};

} // namespace qarn
