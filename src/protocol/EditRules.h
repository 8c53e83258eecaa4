#pragma once

#include "protocol/LANconvDevice.h"

#include <cstdint>
#include <string>
#include <string_view>

// How edited values become fields of the working record: the one place that holds the
// configuration editor's rules, for the window's property tree and for the command line alike.
// Each Apply... either stores the value, stores a corrected value, or leaves the record as it was
// and says why. Nothing here sends anything; the configuration write does.
//
//     LANconvDevice working = *list.GetRecord(row);       // a copy: edits never touch the list
//     if (!CanOpenInEditor(working)) ...                  // still waiting for answers
//     const LANconvDevice snapshot = BeginEdit(working);
//     EditResult r = ApplyEditText(working, EditItem::Port1, "58009");
//     // r.status == EditStatus::Corrected, r.text == "58018", working.wPort1 == 58018
//     writer.OnWriteConfiguration(working, snapshot, false);

namespace qarn {

// The editor's items, in the order in which a committed item is matched.
enum class EditItem { Mac, Ip, Netmask, Gateway, Port2, Port1, PeerIp, Letter, SystemType };

// Which items the editor offers for a record.
enum class EditorView {
    Manual,      // nKind 3: MAC, IP, netmask, gateway, all editable
    Limited,     // extended, unreachable: MAC (read-only), IP, netmask, gateway
    Full,        // extended, reachable: IP, netmask, gateway, port 2 (firmware below 3.0.0.0),
                 // port 1, peer, letter, system type
    AddressOnly, // any other kind, reachable: IP, netmask, gateway
    Empty,       // any other kind, unreachable: nothing
};

struct EditorItemState {
    bool shown = false;
    bool readOnly = true;
};

// Converters from this firmware version on have no second port.
inline constexpr uint32_t kFirstVersionWithoutPort2 = 3000000;
// Ports the converters keep for themselves; an edit inside gets the port above.
inline constexpr uint32_t kFirstReservedPort = 58000;
inline constexpr uint32_t kLastReservedPort = 58017;
inline constexpr uint16_t kPortAboveReserved = 58018;
// The MAC address of the editor's blank record, offered for a write by MAC address.
inline constexpr MacAddress kBlankRecordMac = {0x00, 0x20, 0x4A, 0x90, 0x00, 0x00};

EditorView EditorViewOf(const LANconvDevice& working);

// Whether `item` is shown for `working` and whether it is read-only there: netmask and gateway
// are read-only while dwIp is 0 (except in the manual view), the MAC in the limited view, the
// letter while the system type shows "rilo".
EditorItemState EditorItemStateOf(const LANconvDevice& working, EditItem item);

// Whether a list record may be opened in the editor: it is unreachable, or its answers are all
// in (slots 0, 5, 16 and 17). A window says message 16006 otherwise.
bool CanOpenInEditor(const LANconvDevice& record);

// Starts editing `working`: returns the snapshot (the record as it was, which the configuration
// write compares dwIp with) and then, in the views with the address group (Full, AddressOnly),
// offers the address the converter answered from: dwIp := dwSourceIp.
LANconvDevice BeginEdit(LANconvDevice& working);

// The editor's blank record: the record defaults and kBlankRecordMac.
LANconvDevice MakeBlankRecord();

// Turns `manual` into the record of a write by MAC address: nKind 3 and the serial number of the
// record that was being edited; every other field keeps what it held.
void EnterManualMode(LANconvDevice& manual, const std::string& serialOfCurrent);

enum class EditStatus {
    Stored,      // the field holds the value
    Corrected,   // the field holds a corrected value; `text` is what the item shows now
    Ignored,     // nothing stored, silently: a MAC address of fewer than 12 digits
    Rejected,    // nothing stored; `text` is the refused address for message 2002
    InvalidText, // text that the item's control could not hold; nothing stored
    NotEditable, // the item is not offered, or read-only, for this record; nothing stored
};

struct EditResult {
    EditStatus status = EditStatus::Stored;
    std::string text;
};

// The MAC item: the masked edit's input characters (hexadecimal digits, no spaces). Twelve or
// more give the six bytes from character pairs 0-1 .. 10-11; fewer change nothing.
// "001a2b3c4d5e" -> 00 1A 2B 3C 4D 5E
EditResult ApplyMacInput(LANconvDevice& working, std::string_view input);

// The IP item (network order). A last octet of 0 or 255 is refused: 192.168.1.0 -> Rejected with
// text "192.168.1.0", dwIp unchanged (the item shows dwIp again).
EditResult ApplyIp(LANconvDevice& working, uint32_t address);
// The netmask item (host order), taken as it is.
EditResult ApplyNetmask(LANconvDevice& working, uint32_t netmask);
// The gateway and peer items (network order), taken as they are.
EditResult ApplyGateway(LANconvDevice& working, uint32_t address);
EditResult ApplyPeerIp(LANconvDevice& working, uint32_t address);

// A port spinner (EditItem::Port1 or Port2) with the text of its edit, read as its leading
// decimal digits ("12.5" -> 12, "" -> 0). Above 65535 it becomes 65535; then 58000..58017
// becomes 58018; both are Corrected. "58009" -> 58018;  "70000" -> 65535;  "57999" -> 57999
EditResult ApplyPort(LANconvDevice& working, EditItem port, std::string_view text);

// The letter item: its input characters; the first character's low byte, or 0 for none.
EditResult ApplyLetter(LANconvDevice& working, std::string_view input);

// The system-type list: the selected index 0..2 ("rilo", "tesk", "vardo") stores 0..2; -1
// (nothing selected) stores 0xFF.
EditResult ApplySystemType(LANconvDevice& working, int selectedIndex);
// The list's selection for a record: the index whose choice equals bySystemType, else 0.
int SystemTypeIndexOf(uint8_t systemType);
// The letter item is editable unless "rilo" (index 0) is selected; no selection (-1) counts as
// editable.
bool IsLetterEditable(int systemTypeIndex);

// Whether the firmware update is offered for `working`, given the version number of the image
// that fits its firmware (0: none fits): the image must be newer, the converter must answer the
// echo, and it must not be one named only by its MAC address.
bool CanOfferFirmwareUpdate(const LANconvDevice& working, uint32_t availableVersion);

// For callers without the editor's controls (the command line): `text` as the item's control
// would hold it, checked against what the editor offers for `working` and then put through the
// item's rule. IP items take dotted text ("192.168.1.20", the netmask "255.255.255.0"); the MAC
// 12 hexadecimal digits, spaces allowed ("00 1a 2b 3c 4d 5e"); a port its digits; the letter one
// character from '!' to 'z' or nothing; the system type "rilo", "tesk" or "vardo". Apply the
// system type before the letter: it decides whether the letter is editable.
EditResult ApplyEditText(LANconvDevice& working, EditItem item, std::string_view text);

} // namespace qarn
