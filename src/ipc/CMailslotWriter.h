#pragma once

#include "net/CMsg.h"

#include <string>

namespace qarn {

// The sending end of mailslots: writes serialised CMsg records into the mailslot of an id
// (CMailslot) in this user's mailslot folder, one datagram per message. The communication service
// answers its clients with it.
class CMailslotWriter {
  public:
    // A receiver whose socket buffer is full is given this long to make room before the message
    // is dropped; a service must not hang on one slow client.
    static constexpr int kFullWaitMs = 200;

    CMailslotWriter() = default;
    ~CMailslotWriter();
    CMailslotWriter(const CMailslotWriter&) = delete;
    CMailslotWriter& operator=(const CMailslotWriter&) = delete;

    // Sends `msg` to mailslot `id`: 0, or the system's error code. ENOENT and ECONNREFUSED mean
    // that no mailslot of that id is open (its owner closed it or died).
    int Send(const std::string& id, const CMsg& msg);

    // Whether a mailslot of that id is open now.
    bool IsListening(const std::string& id);

  private:
    bool EnsureSocket();

    int m_fd = -1;
};

} // namespace qarn
