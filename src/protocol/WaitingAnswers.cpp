#include "protocol/WaitingAnswers.h"

#include "protocol/BlockSlots.h"

#include <algorithm>

namespace qarn {

WaitingAnswers::WaitingAnswers(size_t maxSources, size_t maxBytes)
    : m_maxSources(maxSources), m_maxBytes(maxBytes) {}

int WaitingAnswers::KindOf(const AnswerCheck& check) {
    if (check.type == AnswerType::Configuration)
        return 0;
    // Block answers outside the slot table change nothing but the row's existence: one kind.
    return 1 + static_cast<int>(check.slot.value_or(kBlockSlotCount));
}

bool WaitingAnswers::Add(std::unique_ptr<CMsg>& msg, const AnswerCheck& check) {
    const int kind = KindOf(check);
    const size_t cost = CostOf(*msg);
    const auto found = m_bySource.find(msg->address);
    if (found == m_bySource.end()) {
        if (m_bySource.size() >= m_maxSources || m_bytes + cost > m_maxBytes)
            return false;
        std::vector<Entry>& entries = m_bySource[msg->address];
        m_order.push_back(msg->address);
        entries.push_back({kind, std::move(msg)});
        ++m_count;
        m_bytes += cost;
        return true;
    }
    std::vector<Entry>& entries = found->second;
    const auto same = std::find_if(entries.begin(), entries.end(),
                                   [kind](const Entry& e) { return e.kind == kind; });
    const size_t freed = same != entries.end() ? CostOf(*same->msg) : 0;
    if (m_bytes - freed + cost > m_maxBytes)
        return false;
    if (same != entries.end()) {
        // Moved behind the others, as if the earlier one had been handed on already: an earlier
        // configuration answer and a later block answer for slot 0 both write that slot.
        entries.erase(same);
        --m_count;
        ++m_replaced;
    }
    entries.push_back({kind, std::move(msg)});
    ++m_count;
    m_bytes = m_bytes - freed + cost;
    return true;
}

std::unique_ptr<CMsg> WaitingAnswers::Take() {
    if (m_order.empty())
        return nullptr;
    const auto found = m_bySource.find(m_order.front());
    std::vector<Entry>& entries = found->second;
    std::unique_ptr<CMsg> msg = std::move(entries.front().msg);
    entries.erase(entries.begin());
    if (entries.empty()) {
        m_bySource.erase(found);
        m_order.pop_front();
    }
    --m_count;
    m_bytes -= CostOf(*msg);
    return msg;
}

void WaitingAnswers::Clear() {
    m_order.clear();
    m_bySource.clear();
    m_count = 0;
    m_bytes = 0;
}

} // namespace qarn
