// What the communication service takes out of its queue: arbitrary bytes read as a message record
// and then as a client record. An accepted record must follow the rules the service relies on,
// and an "O" record's data record must read back from its own serialised form.
#include "ipc/ClientRecord.h"
#include "ipc/CqarnCommunicationClientData.h"
#include "net/MsgBytes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The data record alone, as raw bytes.
    qarn::CqarnCommunicationClientData direct;
    if (direct.Deserialize(std::span<const uint8_t>(data, size))) {
        std::vector<uint8_t> bytes;
        direct.Serialize(bytes);
        Check(bytes.size() == qarn::CqarnCommunicationClientData::kSerializedSize);
        Check(std::equal(bytes.begin(), bytes.end(), data));
    }

    qarn::CMsg msg;
    if (!qarn::BytesToMsg(data, size, msg))
        return 0;
    qarn::ClientRecord record;
    if (!qarn::ParseClientRecord(msg, record))
        return 0;
    Check(!record.slotId.empty());
    Check(record.slotId.size() <= 3 * qarn::ClientRecord::kMaxSlotIdLength);
    for (const char c : record.slotId)
        Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    if (record.command == qarn::ClientRecord::Command::Send) {
        Check(!record.payload.empty() && record.payload.size() <= qarn::ClientRecord::kMaxDatagram);
        Check(record.payload == msg.data && record.address == msg.address);
    }
    if (record.command == qarn::ClientRecord::Command::Open) {
        std::vector<uint8_t> bytes;
        record.data.Serialize(bytes);
        qarn::CqarnCommunicationClientData again;
        Check(again.Deserialize(bytes) && again == record.data);
    }
    return 0;
}
