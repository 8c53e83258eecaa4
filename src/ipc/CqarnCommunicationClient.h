#pragma once

#include "ipc/CQCCSerial.h"
#include "ipc/CqarnCommunicationClient3.h"

#include <memory>

namespace qarn {

// What a firmware transfer makes to reach its converter through the local communication service:
// it owns the connection (Client()) and a serial port whose messages go to that connection.
//
//     CqarnCommunicationClient client;
//     client.Client().Open(&answers, converter, 50);
//     client.Client().Send(converter, datagram);   ... answers arrive in `answers` ...
//     client.Client().Close();
class CqarnCommunicationClient {
  public:
    CqarnCommunicationClient();
    virtual ~CqarnCommunicationClient();

    CqarnCommunicationClient(const CqarnCommunicationClient&) = delete;
    CqarnCommunicationClient& operator=(const CqarnCommunicationClient&) = delete;

    virtual bool SendMsg(CMsg& msg) { return m_client->SendMsg(msg); }

    CqarnCommunicationClient3& Client() { return *m_client; }
    CQCCSerial& Serial() { return m_serial; }

  private:
    std::unique_ptr<CqarnCommunicationClient3> m_client;
    CQCCSerial m_serial;
};

} // namespace qarn
