#include "protocol/EditRules.h"

#include "platform/TextCodec.h"
#include "protocol/ConverterText.h"

#include <optional>

namespace qarn {

namespace {

constexpr size_t kMacDigits = 2 * kMacSize;
constexpr uint32_t kLargestPort = 65535;
constexpr char kFirstLetter = '!';
constexpr char kLastLetter = 'z';

EditResult Result(EditStatus status, std::string text = std::string()) {
    return EditResult{status, std::move(text)};
}

// One hexadecimal digit as the editor has always read it: 'a'..'f' taken as 'A'..'F', then
// minus '0', and minus 7 more above 9. '7' -> 7;  'c' -> 12
uint8_t DigitValue(char digit) {
    int value = digit >= 'a' && digit <= 'f' ? digit - 'a' + 'A' : digit;
    value -= '0';
    if (value > 9)
        value -= 7;
    return static_cast<uint8_t>(value);
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool HasAddressGroup(EditorView view) {
    return view == EditorView::Full || view == EditorView::AddressOnly;
}

// Host order from network order and back: the octets reversed.
uint32_t SwapOctets(uint32_t address) {
    return (address & 0xFF) << 24 | (address & 0xFF00) << 8 | (address >> 8 & 0xFF00) |
           address >> 24;
}

// The spinner's text as its leading digits, held at 65536 and above as "more than 65535".
std::optional<uint32_t> SpinnerValue(std::string_view text) {
    uint32_t value = 0;
    bool inDigits = true;
    for (char c : text) {
        const bool digit = c >= '0' && c <= '9';
        if (!digit && c != '.' && c != ',')
            return std::nullopt; // the spinner's edit takes nothing else
        inDigits = inDigits && digit;
        if (inDigits && value <= kLargestPort)
            value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value;
}

EditResult ApplyAddressText(LANconvDevice& working, EditItem item, std::string_view text) {
    const std::optional<uint32_t> address = ParseIpText(text);
    if (!address)
        return Result(EditStatus::InvalidText);
    switch (item) {
    case EditItem::Ip:
        return ApplyIp(working, *address);
    case EditItem::Netmask:
        return ApplyNetmask(working, SwapOctets(*address));
    case EditItem::Gateway:
        return ApplyGateway(working, *address);
    default:
        return ApplyPeerIp(working, *address);
    }
}

EditResult ApplyMacText(LANconvDevice& working, std::string_view text) {
    std::string digits;
    for (char c : text) {
        if (c == ' ')
            continue;
        if (!IsHexDigit(c))
            return Result(EditStatus::InvalidText);
        digits += c;
    }
    if (digits.size() > kMacDigits)
        return Result(EditStatus::InvalidText);
    return ApplyMacInput(working, digits);
}

EditResult ApplyLetterText(LANconvDevice& working, std::string_view text) {
    if (text.size() > 1 || (text.size() == 1 && (text[0] < kFirstLetter || text[0] > kLastLetter)))
        return Result(EditStatus::InvalidText);
    return ApplyLetter(working, text);
}

EditResult ApplySystemTypeText(LANconvDevice& working, std::string_view text) {
    const std::optional<uint8_t> type = SystemTypeFromName(text);
    if (!type)
        return Result(EditStatus::InvalidText);
    return ApplySystemType(working, *type);
}

} // namespace

EditorView EditorViewOf(const LANconvDevice& working) {
    if (working.nKind == kKindByMac)
        return EditorView::Manual;
    if (working.nKind == kKindExtended)
        return working.bUnreachable ? EditorView::Limited : EditorView::Full;
    return working.bUnreachable ? EditorView::Empty : EditorView::AddressOnly;
}

EditorItemState EditorItemStateOf(const LANconvDevice& working, EditItem item) {
    const EditorView view = EditorViewOf(working);
    const bool noAddress = working.dwIp == 0;
    switch (item) {
    case EditItem::Mac:
        if (view == EditorView::Manual || view == EditorView::Limited)
            return {true, view == EditorView::Limited};
        return {};
    case EditItem::Ip:
        return {view != EditorView::Empty, false};
    case EditItem::Netmask:
    case EditItem::Gateway:
        if (view == EditorView::Manual)
            return {true, false};
        return {view != EditorView::Empty, noAddress};
    case EditItem::Port2:
        if (view == EditorView::Full && working.dwFirmwareVersion < kFirstVersionWithoutPort2)
            return {true, false};
        return {};
    case EditItem::Port1:
    case EditItem::PeerIp:
    case EditItem::SystemType:
        return {view == EditorView::Full, false};
    case EditItem::Letter:
        return {view == EditorView::Full,
                !IsLetterEditable(SystemTypeIndexOf(working.bySystemType))};
    }
    return {};
}

bool CanOpenInEditor(const LANconvDevice& record) {
    return record.bUnreachable || record.HasAllAnswerBlocks();
}

LANconvDevice BeginEdit(LANconvDevice& working) {
    LANconvDevice snapshot = working;
    if (HasAddressGroup(EditorViewOf(working)))
        working.dwIp = working.dwSourceIp;
    return snapshot;
}

LANconvDevice MakeBlankRecord() {
    LANconvDevice blank;
    blank.abyMac = kBlankRecordMac;
    return blank;
}

void EnterManualMode(LANconvDevice& manual, const std::string& serialOfCurrent) {
    manual.nKind = kKindByMac;
    manual.strSerial = serialOfCurrent;
}

EditResult ApplyMacInput(LANconvDevice& working, std::string_view input) {
    if (input.size() < kMacDigits)
        return Result(EditStatus::Ignored);
    for (size_t i = 0; i < kMacSize; ++i) {
        const auto high = static_cast<uint8_t>(DigitValue(input[2 * i]) * 16);
        working.abyMac[i] = static_cast<uint8_t>(high + (DigitValue(input[2 * i + 1]) & 0x0F));
    }
    return Result(EditStatus::Stored);
}

EditResult ApplyIp(LANconvDevice& working, uint32_t address) {
    const uint32_t lastOctet = address >> 24;
    if (lastOctet == 0 || lastOctet == 255)
        return Result(EditStatus::Rejected, IpToText(address));
    working.dwIp = address;
    return Result(EditStatus::Stored);
}

EditResult ApplyNetmask(LANconvDevice& working, uint32_t netmask) {
    working.dwNetmask = netmask;
    return Result(EditStatus::Stored);
}

EditResult ApplyGateway(LANconvDevice& working, uint32_t address) {
    working.dwGateway = address;
    return Result(EditStatus::Stored);
}

EditResult ApplyPeerIp(LANconvDevice& working, uint32_t address) {
    working.dwPeerIp = address;
    return Result(EditStatus::Stored);
}

EditResult ApplyPort(LANconvDevice& working, EditItem port, std::string_view text) {
    if (port != EditItem::Port1 && port != EditItem::Port2)
        return Result(EditStatus::NotEditable);
    const std::optional<uint32_t> read = SpinnerValue(text);
    if (!read)
        return Result(EditStatus::InvalidText);
    uint32_t value = *read;
    bool corrected = false;
    if (value > kLargestPort) {
        value = kLargestPort;
        corrected = true;
    }
    if (value >= kFirstReservedPort && value <= kLastReservedPort) {
        value = kPortAboveReserved;
        corrected = true;
    }
    (port == EditItem::Port1 ? working.wPort1 : working.wPort2) = static_cast<uint16_t>(value);
    return corrected ? Result(EditStatus::Corrected, std::to_string(value))
                     : Result(EditStatus::Stored);
}

EditResult ApplyLetter(LANconvDevice& working, std::string_view input) {
    const std::u16string characters = platform::Utf8ToUtf16(input);
    working.chLetter = characters.empty() ? 0 : static_cast<uint8_t>(characters[0] & 0xFF);
    return Result(EditStatus::Stored);
}

EditResult ApplySystemType(LANconvDevice& working, int selectedIndex) {
    const bool chosen = selectedIndex >= 0 && selectedIndex <= kSystemTypeVardo;
    working.bySystemType = chosen ? static_cast<uint8_t>(selectedIndex) : kSystemTypeNone;
    return Result(EditStatus::Stored);
}

int SystemTypeIndexOf(uint8_t systemType) {
    return systemType <= kSystemTypeVardo ? systemType : 0;
}

bool IsLetterEditable(int systemTypeIndex) {
    return systemTypeIndex != 0;
}

bool CanOfferFirmwareUpdate(const LANconvDevice& working, uint32_t availableVersion) {
    return availableVersion > working.dwFirmwareVersion && !working.bUnreachable &&
           working.nKind != kKindByMac;
}

EditResult ApplyEditText(LANconvDevice& working, EditItem item, std::string_view text) {
    const EditorItemState state = EditorItemStateOf(working, item);
    if (!state.shown || state.readOnly)
        return Result(EditStatus::NotEditable);
    switch (item) {
    case EditItem::Mac:
        return ApplyMacText(working, text);
    case EditItem::Ip:
    case EditItem::Netmask:
    case EditItem::Gateway:
    case EditItem::PeerIp:
        return ApplyAddressText(working, item, text);
    case EditItem::Port1:
    case EditItem::Port2:
        return ApplyPort(working, item, text);
    case EditItem::Letter:
        return ApplyLetterText(working, text);
    case EditItem::SystemType:
        return ApplySystemTypeText(working, text);
    }
    return Result(EditStatus::NotEditable);
}

} // namespace qarn
