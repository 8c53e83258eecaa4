#pragma once

#include "ipc/CSerial.h"

namespace qarn {

class CqarnCommunicationClient;

// The serial port of a communication client: what it receives goes to the client's answer queue
// (CqarnCommunicationClient3::Forward) instead of a sink of its own.
class CQCCSerial : public CSerial {
  public:
    explicit CQCCSerial(CqarnCommunicationClient* owner = nullptr) : m_owner(owner) {}
    ~CQCCSerial() override { StopThread(); }

    void SetOwner(CqarnCommunicationClient* owner) { m_owner = owner; }
    void Deliver(std::unique_ptr<CMsg> msg) override;

  private:
    CqarnCommunicationClient* m_owner;
};

} // namespace qarn
