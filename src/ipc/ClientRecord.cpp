#include "ipc/ClientRecord.h"

#include "platform/TextCodec.h"

namespace qarn {

namespace {

bool SlotIdIsUsable(const std::u16string& id) {
    if (id.empty() || id.size() > ClientRecord::kMaxSlotIdLength)
        return false;
    for (const char16_t unit : id) {
        if (unit < 0x20 || unit == 0x7F || (unit >= 0xD800 && unit <= 0xDFFF))
            return false;
    }
    return true;
}

} // namespace

bool ParseClientRecord(const CMsg& msg, ClientRecord& out) {
    if (msg.text.empty())
        return false;
    const std::u16string id = msg.text.substr(1);
    if (!SlotIdIsUsable(id))
        return false;
    ClientRecord record;
    record.slotId = platform::Utf16ToUtf8(id);
    switch (msg.text.front()) {
    case u'O':
        record.command = ClientRecord::Command::Open;
        if (!record.data.Deserialize(msg.data))
            return false;
        break;
    case u'S':
        record.command = ClientRecord::Command::Send;
        if (msg.data.empty() || msg.data.size() > ClientRecord::kMaxDatagram)
            return false;
        record.address = msg.address;
        record.payload = msg.data;
        break;
    case u'C':
        record.command = ClientRecord::Command::Close;
        break;
    default:
        return false;
    }
    out = std::move(record);
    return true;
}

} // namespace qarn
