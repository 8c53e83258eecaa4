#pragma once

#include "ipc/CqarnCommunicationClientData.h"
#include "net/CMsg.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qarn {

// One record a communication client wrote into the service's queue, read and checked: the
// command, the client's answer-mailslot id, and what the command carries.
struct ClientRecord {
    static constexpr size_t kMaxSlotIdLength = 128;
    // The largest payload one UDP datagram can carry.
    static constexpr size_t kMaxDatagram = 65507;

    enum class Command { Open, Send, Close };

    Command command = Command::Close;
    std::string slotId;                // UTF-8
    CqarnCommunicationClientData data; // "O": the client's data record
    uint32_t address = 0;              // "S": the converter, network order
    std::vector<uint8_t> payload;      // "S": the datagram
};

// Reads `msg` as a client record. False for an empty text, a command other than "O", "S" and
// "C", a mailslot id that is empty, too long, not valid text or holds control characters, an "O"
// whose data is no data record, and an "S" whose payload is empty or longer than a datagram.
//   text "O" + "QCS_198.18.1.1_58004", data: the 25-byte record -> Open, that id, the record
bool ParseClientRecord(const CMsg& msg, ClientRecord& out);

} // namespace qarn
