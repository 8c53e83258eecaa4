#include "protocol/AnswerIntake.h"

namespace qarn {

AnswerIntake::AnswerIntake(CMsgQueue& queue, DeviceList& list) : m_queue(queue), m_list(list) {
    m_queue.SetCapacity(kQueueCapacity);
}

void AnswerIntake::TakeQueued(size_t& handled, const Hook& hook) {
    DropCounts drops;
    drops.queueFull = m_queue.TakeDroppedCount();
    for (std::unique_ptr<CMsg>& msg : m_queue.TakeAll()) {
        const AnswerCheck check = CheckAnswer(msg->data);
        if (check.disposition != AnswerDisposition::Applied &&
            check.disposition != AnswerDisposition::NoSlot) {
            // The list would drop it unseen; it need not wait for its turn.
            ++handled;
            if (hook)
                hook(*msg, check.disposition);
            continue;
        }
        const bool known = m_list.HasRow(msg->address) && !m_new.HasSource(msg->address);
        if (!(known ? m_known : m_new).Add(msg, check))
            ++drops.waitingFull;
    }
    if (drops.Any())
        m_list.AddDrops(drops);
}

size_t AnswerIntake::Pump(size_t budget, const Hook& hook) {
    size_t handled = 0;
    TakeQueued(handled, hook);
    while (handled < budget && (!m_known.IsEmpty() || !m_new.IsEmpty())) {
        const std::unique_ptr<CMsg> msg = !m_known.IsEmpty() ? m_known.Take() : m_new.Take();
        const AnswerDisposition disposition = m_list.OnConverterAnswer(*msg);
        ++handled;
        if (hook)
            hook(*msg, disposition);
    }
    return handled;
}

void AnswerIntake::Clear() {
    m_known.Clear();
    m_new.Clear();
}

} // namespace qarn
