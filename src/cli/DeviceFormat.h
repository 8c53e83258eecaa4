#pragma once

#include "cli/ConverterRow.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace qarn::cli {

// The output forms of the device list and of one converter. Every form lists the converters in
// the order given.

// One named value of a converter, in the order of the machine-readable forms.
struct RowField {
    const char* key;
    std::variant<std::string, uint64_t, bool> value;
};

// ip, mac, serial, firmware, firmware_number, kind, reachable, complete, reported_ip, netmask,
// gateway, peer, port1, port2, letter, system_type, code. system_type is a number when the
// converter's value has no name.
std::vector<RowField> RowFields(const ConverterRow& row);

// Aligned columns for a terminal: the device list's four cells, then reachability and
// completeness ("yes"/"no"), under a heading line. Control characters and bytes that are not
// UTF-8 are shown as \xNN, so a converter's texts cannot drive the terminal.
std::string FormatTable(const std::vector<ConverterRow>& rows);

// A JSON array with one object per converter (keys as RowFields), pretty-printed, ending in a
// newline. Bytes that are not UTF-8 become U+FFFD.
std::string FormatJson(const std::vector<ConverterRow>& rows);

// One JSON object for one converter, ending in a newline.
std::string FormatJsonObject(const ConverterRow& row);

// CSV (RFC 4180): a header row of the keys, then one line per converter; a field holding a comma,
// a quote or a blank at either end is quoted. Lines end in CRLF as the RFC has it. Texts are
// escaped as in the table (control characters and bytes that are not UTF-8 as \xNN), and a text
// that starts with =, +, - or @, which a spreadsheet would run as a formula, gets a leading
// apostrophe: "=1+2" -> "'=1+2".
std::string FormatCsv(const std::vector<ConverterRow>& rows);

// One converter as "key: value" lines for a terminal, escaped as the table is.
std::string FormatRecord(const ConverterRow& row);

// `text` with control characters and bytes that are not UTF-8 replaced by \xNN:
// "AB\x1b[2J" -> "AB\\x1b[2J".
std::string TerminalSafe(const std::string& text);

} // namespace qarn::cli
