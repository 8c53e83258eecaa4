#include "ipc/CQCCSerial.h"

#include "ipc/CqarnCommunicationClient.h"

namespace qarn {

void CQCCSerial::Deliver(std::unique_ptr<CMsg> msg) {
    if (!IsRunning() || IsStopRequested())
        return;
    Stamp(*msg);
    if (m_owner != nullptr)
        m_owner->Client().Forward(std::move(msg));
}

} // namespace qarn
