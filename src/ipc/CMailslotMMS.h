#pragma once

#include "ipc/CMailslot.h"
#include "ipc/CqarnCommunicationClientData.h"

#include <cstdint>
#include <vector>

namespace qarn {

// A receiving mailslot that carries a communication client's data record: serialising the
// endpoint serialises the record, and assigning a record replaces it. The communication client
// is one.
class CMailslotMMS : public CMailslot {
  public:
    CMailslotMMS() { SetName("CMailslotMMS"); }

    void Serialize(std::vector<uint8_t>& out) const { m_data.Serialize(out); }
    CMailslotMMS& operator=(const CqarnCommunicationClientData& data) {
        m_data = data;
        return *this;
    }

    CqarnCommunicationClientData& Data() { return m_data; }
    const CqarnCommunicationClientData& Data() const { return m_data; }

  private:
    CqarnCommunicationClientData m_data;
};

} // namespace qarn
