#pragma once

#include "cli/WritePlan.h"
#include "protocol/LANconvDevice.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qarn::cli {

// The settings file of `export` and `apply`: per converter, keyed by its MAC address, the
// settings `write` can change. Two forms, told apart by the first character that is not blank:
//
// JSON, an object with an array "converters" (a bare array is taken too):
//     {"converters": [
//       {"mac": "02:51:00:00:00:01", "ip": "198.18.1.1", "netmask": "255.255.0.0",
//        "gateway": "198.18.0.1", "port1": 4001, "port2": 4002, "peer": "198.18.0.1",
//        "letter": "A", "system_type": "tesk"}
//     ]}
// CSV (RFC 4180) with a header row naming the columns, "mac" among them:
//     mac,ip,netmask,gateway,port1,port2,peer,letter,system_type
//     02:51:00:00:00:01,198.18.1.1,255.255.0.0,198.18.0.1,4001,4002,198.18.0.1,A,tesk
//
// A field that is missing (an empty CSV cell) leaves that setting as the converter has it. A
// converter exports only the settings it offers (a standard converter its address settings).
// Values: addresses dotted, ports decimal, the letter one character ("" for none, JSON only),
// the system type "rilo", "tesk", "vardo" or, for a value without a name, its number.

// The keys in file order after "mac".
inline constexpr const char* kSettingsKeys[] = {"ip",    "netmask", "gateway", "port1",
                                                "port2", "peer",    "letter",  "system_type"};

// A file is outside input: it is refused above this size, nesting or count.
inline constexpr size_t kMaxSettingsFileBytes = 16 * 1024 * 1024;
inline constexpr size_t kMaxSettingsEntries = 100000;
inline constexpr int kMaxJsonDepth = 8;

// One converter of a file: its MAC address and the settings given, as canonical text (see
// CanonicalSettingText), in WriteEdits so that `apply` writes them as `write` would.
struct SettingsEntry {
    MacAddress mac{};
    WriteEdits settings;
    std::string where; // "line 4" (CSV) or "converters[3]" (JSON), for messages
};

// Reads a settings file. False with one line in `error` (where, which field, what is wrong) for
// anything that is not a well-formed file: bad syntax, an unknown key or column, a value of the
// wrong form, a MAC address named twice, no converter at all.
//     "line 3: port1 '40x1' is not a port number"
//     "converters[2]: unknown field 'gatway'"
bool ParseSettingsFile(std::string_view text, std::vector<SettingsEntry>& entries,
                       std::string* error);

// The settings `listed` (a record of the device list) offers in the editor, as canonical text;
// the others stay empty.
WriteEdits OfferedSettings(const LANconvDevice& listed);
// The same of a working copy already in the editor (its dwIp is the one to be written).
WriteEdits SettingsOfWorking(const LANconvDevice& working);

// `text` of the setting `key` in the form export writes: "198.018.1.4" -> "198.18.1.4",
// "04001" -> "4001", "Tesk" -> "tesk"; "" when it is not a value of that setting's form.
std::string CanonicalSettingText(std::string_view key, std::string_view text);

// The setting `key` of `settings` ("port1" -> settings.port1).
std::optional<std::string>& SettingOf(WriteEdits& settings, std::string_view key);
const std::optional<std::string>& SettingOf(const WriteEdits& settings, std::string_view key);

// The file as export writes it; entries in the order given.
std::string FormatSettingsJson(const std::vector<SettingsEntry>& entries);
std::string FormatSettingsCsv(const std::vector<SettingsEntry>& entries);

} // namespace qarn::cli
