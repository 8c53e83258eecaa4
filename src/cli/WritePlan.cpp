#include "cli/WritePlan.h"

#include "protocol/ConverterText.h"

#include <utility>

namespace qarn::cli {

namespace {

struct EditOption {
    EditItem item;
    const char* option;
    const std::optional<std::string>* value;
};

// The order matters: the address before netmask and gateway (read-only while the address is 0),
// the system type before the letter (fixed while the type is rilo).
std::vector<EditOption> EditOptions(const WriteEdits& edits) {
    return {
        {EditItem::Ip, "--ip", &edits.ip},
        {EditItem::Netmask, "--netmask", &edits.netmask},
        {EditItem::Gateway, "--gateway", &edits.gateway},
        {EditItem::Port2, "--port2", &edits.port2},
        {EditItem::Port1, "--port1", &edits.port1},
        {EditItem::PeerIp, "--peer", &edits.peer},
        {EditItem::SystemType, "--system-type", &edits.systemType},
        {EditItem::Letter, "--letter", &edits.letter},
    };
}

const char* ExpectedForm(EditItem item) {
    switch (item) {
    case EditItem::Ip:
    case EditItem::Netmask:
    case EditItem::Gateway:
    case EditItem::PeerIp:
        return "a dotted IPv4 address";
    case EditItem::Port1:
    case EditItem::Port2:
        return "a port number";
    case EditItem::Letter:
        return "one character from ! to z, or nothing";
    case EditItem::SystemType:
        return "rilo, tesk or vardo";
    case EditItem::Mac:
        return "a MAC address";
    }
    return "a valid value";
}

// "--ip, --netmask, --gateway": what can be written to `working`.
std::string OfferedOptions(const LANconvDevice& working, const WriteEdits& edits) {
    std::string offered;
    for (const EditOption& option : EditOptions(edits)) {
        const EditorItemState state = EditorItemStateOf(working, option.item);
        if (state.shown && !state.readOnly)
            offered += (offered.empty() ? "" : ", ") + std::string(option.option);
    }
    return offered.empty() ? "nothing" : offered;
}

std::string NotOffered(const EditOption& option, const LANconvDevice& working,
                       const WriteEdits& edits) {
    const EditorItemState state = EditorItemStateOf(working, option.item);
    std::string reason = std::string(option.option) + " cannot be written to this converter";
    if (option.item == EditItem::Port2 && state.shown == false &&
        EditorViewOf(working) == EditorView::Full)
        reason += " (firmware " + VersionText(working.dwFirmwareVersion) + " has no second port)";
    else if (option.item == EditItem::Letter && state.shown)
        reason += " while its system type is rilo";
    return reason + "; it takes " + OfferedOptions(working, edits);
}

bool ApplyOne(const EditOption& option, PreparedWrite& prepared, const WriteEdits& edits,
              std::string* error) {
    const std::string& text = **option.value;
    const EditResult result = ApplyEditText(prepared.working, option.item, text);
    switch (result.status) {
    case EditStatus::Stored:
        return true;
    case EditStatus::Corrected:
        prepared.notes.push_back(std::string(option.option) + " " + text + " corrected to " +
                                 result.text);
        return true;
    case EditStatus::Rejected:
        *error = std::string(option.option) + " " + result.text +
                 " refused: the last octet may not be 0 or 255";
        return false;
    case EditStatus::InvalidText:
        *error = std::string(option.option) + " '" + text + "' is not " + ExpectedForm(option.item);
        return false;
    case EditStatus::NotEditable:
        *error = NotOffered(option, prepared.working, edits);
        return false;
    case EditStatus::Ignored:
        break;
    }
    *error = std::string(option.option) + " '" + text + "' was not taken";
    return false;
}

} // namespace

bool WriteEdits::Empty() const {
    return !ip && !netmask && !gateway && !port1 && !port2 && !peer && !letter && !systemType;
}

bool PrepareWrite(const LANconvDevice* listed, const MacAddress& unlistedMac,
                  const WriteEdits& edits, PreparedWrite& prepared, std::string* error) {
    std::string ignored;
    if (error == nullptr)
        error = &ignored;
    prepared.notes.clear();
    if (listed != nullptr) {
        if (!CanOpenInEditor(*listed)) {
            *error = "its answers are still incomplete; try again when the list shows it complete";
            return false;
        }
        prepared.working = *listed;
        prepared.snapshot = BeginEdit(prepared.working);
    } else {
        if (!edits.ip) {
            *error = "a converter that is not listed is written by its MAC address and needs --ip";
            return false;
        }
        prepared.working = MakeBlankRecord();
        EnterManualMode(prepared.working, std::string());
        prepared.snapshot = BeginEdit(prepared.working);
        const EditResult mac = ApplyEditText(prepared.working, EditItem::Mac, MacText(unlistedMac));
        if (mac.status != EditStatus::Stored) {
            *error = "the MAC address was not taken";
            return false;
        }
    }
    for (const EditOption& option : EditOptions(edits)) {
        if (option.value->has_value() && !ApplyOne(option, prepared, edits, error))
            return false;
    }
    return true;
}

std::vector<std::string> UnconfirmedSettings(const LANconvDevice& written, const WriteEdits& edits,
                                             uint32_t source, const LANconvDevice& answer,
                                             bool configurationAnswer, bool longAnswer) {
    std::vector<std::string> open;
    const auto check = [&](bool given, const char* name, const std::string& shown,
                           const std::string& wanted) {
        if (given && shown != wanted)
            open.push_back(std::string(name) + " is " + shown + ", not " + wanted);
    };
    check(true, "its address", IpToText(source), IpToText(written.dwIp));
    if (!configurationAnswer)
        return open;
    check(edits.ip.has_value(), "the reported address", IpToText(answer.dwReportedIp),
          IpToText(written.dwIp));
    check(edits.netmask.has_value(), "netmask", HostOrderIpToText(answer.dwNetmask),
          HostOrderIpToText(written.dwNetmask));
    check(edits.gateway.has_value(), "gateway", IpToText(answer.dwGateway),
          IpToText(written.dwGateway));
    check(edits.port1.has_value(), "port1", std::to_string(answer.wPort1),
          std::to_string(written.wPort1));
    check(edits.port2.has_value(), "port2", std::to_string(answer.wPort2),
          std::to_string(written.wPort2));
    check(edits.peer.has_value(), "peer", IpToText(answer.dwPeerIp), IpToText(written.dwPeerIp));
    if (!longAnswer)
        return open;
    // A converter reports "no letter" as '_' (it sends 0, the answer handling shows '_').
    const uint8_t letter = written.chLetter == 0 ? static_cast<uint8_t>('_') : written.chLetter;
    check(edits.letter.has_value(), "letter", "'" + LetterText(answer.chLetter) + "'",
          "'" + LetterText(letter) + "'");
    const auto typeText = [](uint8_t type) {
        const auto name = SystemTypeName(type);
        return name ? std::string(*name) : std::to_string(type);
    };
    check(edits.systemType.has_value(), "system type", typeText(answer.bySystemType),
          typeText(written.bySystemType));
    return open;
}

} // namespace qarn::cli
