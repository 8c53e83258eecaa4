#include "protocol/AnswerIntake.h"

namespace qarn {

AnswerIntake::AnswerIntake(CMsgQueue& queue, DeviceList& list) : m_queue(queue), m_list(list) {
    m_queue.SetCapacity(kQueueCapacity);
}

void AnswerIntake::TakeQueued(size_t& handled, const Hook& hook) {
    DropCounts drops;
    drops.queueFull = m_queue.TakeDroppedCount();
    for (std::unique_ptr<CMsg>& msg : m_queue.TakeAll()) {
        const AnswerDisposition check = CheckAnswer(msg->data).disposition;
        if (check != AnswerDisposition::Applied && check != AnswerDisposition::NoSlot) {
            // The list would drop it unseen; it need not wait for its turn.
            ++handled;
            if (hook)
                hook(*msg, check);
            continue;
        }
        const bool known = m_list.HasRow(msg->address);
        std::deque<std::unique_ptr<CMsg>>& line = known ? m_known : m_new;
        if (line.size() >= (known ? kMaxKnownWaiting : kMaxNewWaiting)) {
            ++drops.waitingFull;
            continue;
        }
        line.push_back(std::move(msg));
    }
    if (drops.Any())
        m_list.AddDrops(drops);
}

size_t AnswerIntake::Pump(size_t budget, const Hook& hook) {
    size_t handled = 0;
    TakeQueued(handled, hook);
    while (handled < budget && (!m_known.empty() || !m_new.empty())) {
        std::deque<std::unique_ptr<CMsg>>& line = !m_known.empty() ? m_known : m_new;
        const std::unique_ptr<CMsg> msg = std::move(line.front());
        line.pop_front();
        const AnswerDisposition disposition = m_list.OnConverterAnswer(*msg);
        ++handled;
        if (hook)
            hook(*msg, disposition);
    }
    return handled;
}

void AnswerIntake::Clear() {
    m_known.clear();
    m_new.clear();
}

} // namespace qarn
