#include "net/CManualEvent.h"

namespace qarn {

CManualEvent::CManualEvent() = default;

CManualEvent::~CManualEvent() = default;

bool CManualEvent::Set() {
    return m_event.Set();
}

bool CManualEvent::Reset() {
    return m_event.Reset();
}

bool CManualEvent::Lock(int32_t timeoutMs) {
    return m_event.Wait(timeoutMs) == platform::WaitResult::First;
}

} // namespace qarn
