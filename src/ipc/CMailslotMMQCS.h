#pragma once

#include "ipc/CMailslotS.h"
#include "ipc/CqarnCommunicationClientData.h"

#include <cstdint>
#include <vector>

namespace qarn {

// The shared-queue endpoint with a communication client's data record attached, as CMailslotMMS
// is for the receiving mailslot: the client sends into the service's queue through one.
class CMailslotMMQCS : public CMailslotS {
  public:
    void Serialize(std::vector<uint8_t>& out) const { m_data.Serialize(out); }
    CMailslotMMQCS& operator=(const CqarnCommunicationClientData& data) {
        m_data = data;
        return *this;
    }

    CqarnCommunicationClientData& Data() { return m_data; }
    const CqarnCommunicationClientData& Data() const { return m_data; }

  private:
    CqarnCommunicationClientData m_data;
};

} // namespace qarn
