#include "cli/SettingsFile.h"

#include "cli/DeviceFormat.h"
#include "cli/Target.h"
#include "protocol/ConverterText.h"
#include "protocol/EditRules.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <nlohmann/json.hpp>

namespace qarn::cli {

namespace {

using Json = nlohmann::ordered_json;

bool IsAddressKey(std::string_view key) {
    return key == "ip" || key == "netmask" || key == "gateway" || key == "peer";
}

bool IsPortKey(std::string_view key) {
    return key == "port1" || key == "port2";
}

bool IsKnownKey(std::string_view key) {
    return std::find(std::begin(kSettingsKeys), std::end(kSettingsKeys), key) !=
           std::end(kSettingsKeys);
}

bool AllDigits(std::string_view text, size_t most) {
    return !text.empty() && text.size() <= most &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// What each setting must look like, for the message about a value that does not.
const char* ExpectedForm(std::string_view key) {
    if (IsAddressKey(key))
        return "a dotted IPv4 address";
    if (IsPortKey(key))
        return "a port number";
    if (key == "letter")
        return "one character from ! to z, or nothing";
    return "rilo, tesk, vardo or a number up to 255";
}

// A value of the file as a message shows it: escaped, and cut when long.
std::string Shown(std::string_view text) {
    constexpr size_t kMost = 40;
    std::string shown = TerminalSafe(std::string(text.substr(0, kMost)));
    return text.size() > kMost ? shown + "..." : shown;
}

bool Refuse(std::string* error, const std::string& where, const std::string& what) {
    if (error != nullptr)
        *error = where + ": " + what;
    return false;
}

// Puts `value` under `key` into `entry`; false with the reason when the key is unknown or the
// value has the wrong form.
bool TakeValue(SettingsEntry& entry, bool& haveMac, std::string_view key, std::string_view value,
               std::string* error) {
    if (key == "mac") {
        const std::optional<MacAddress> mac = ParseMac(value);
        if (!mac)
            return Refuse(error, entry.where, "mac '" + Shown(value) + "' is not a MAC address");
        entry.mac = *mac;
        haveMac = true;
        return true;
    }
    if (!IsKnownKey(key))
        return Refuse(error, entry.where, "unknown field '" + Shown(key) + "'");
    std::string canonical = CanonicalSettingText(key, value);
    // The letter's one valid empty value is "no letter".
    if (canonical.empty() && !(key == "letter" && value.empty()))
        return Refuse(error, entry.where,
                      std::string(key) + " '" + Shown(value) + "' is not " + ExpectedForm(key));
    SettingOf(entry.settings, key) = std::move(canonical);
    return true;
}

// ---- JSON ---------------------------------------------------------------------------------------

// The deepest nesting of arrays and objects, strings skipped; a parser (and the value it
// builds) never sees more than the limit. Stops counting once past it.
int NestingDepth(std::string_view text) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size() && deepest <= kMaxJsonDepth; ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

// "line 3, column 7" of the parser's error position (the count of bytes read, so the last one read
// is the culprit).
std::string Position(std::string_view text, size_t bytesRead) {
    const size_t at = std::min(bytesRead > 0 ? bytesRead - 1 : 0, text.size());
    const std::string_view before = text.substr(0, at);
    const size_t line = 1 + static_cast<size_t>(std::count(before.begin(), before.end(), '\n'));
    const size_t newline = before.rfind('\n');
    const size_t lineStart = newline == std::string_view::npos ? 0 : newline + 1;
    return "line " + std::to_string(line) + ", column " + std::to_string(at - lineStart + 1);
}

// A JSON value of a setting as text: strings as they are, whole numbers in decimal.
bool JsonValueText(const Json& value, std::string_view key, std::string& text) {
    if (value.is_string()) {
        text = value.get<std::string>();
        return true;
    }
    if (value.is_number_unsigned() && (IsPortKey(key) || key == "system_type")) {
        text = std::to_string(value.get<uint64_t>());
        return true;
    }
    return false;
}

bool ParseJsonEntry(const Json& object, SettingsEntry& entry, std::string* error) {
    if (!object.is_object())
        return Refuse(error, entry.where, "not an object with a converter's settings");
    bool haveMac = false;
    for (const auto& [key, value] : object.items()) {
        std::string text;
        if (!JsonValueText(value, key, text)) {
            if (key != "mac" && !IsKnownKey(key))
                return Refuse(error, entry.where, "unknown field '" + Shown(key) + "'");
            return Refuse(error, entry.where,
                          key + " must be " +
                              (key == "mac" ? std::string("a MAC address") : ExpectedForm(key)) +
                              " in quotes" + (IsPortKey(key) ? " or a number" : ""));
        }
        if (!TakeValue(entry, haveMac, key, text, error))
            return false;
    }
    if (!haveMac)
        return Refuse(error, entry.where, "no mac");
    return true;
}

bool ParseJson(std::string_view text, std::vector<SettingsEntry>& entries, std::string* error) {
    if (NestingDepth(text) > kMaxJsonDepth)
        return Refuse(error, "the file", "nested deeper than a settings file is");
    Json document;
    try {
        document = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& e) {
        return Refuse(error, Position(text, e.byte), "not valid JSON");
    } catch (const Json::exception&) {
        return Refuse(error, "the file", "not valid JSON");
    }
    const Json* list = &document;
    if (document.is_object()) {
        for (const auto& [key, value] : document.items())
            if (key != "converters")
                return Refuse(error, "the file", "unknown field '" + Shown(key) + "'");
        if (!document.contains("converters"))
            return Refuse(error, "the file", "no \"converters\" array");
        list = &document["converters"];
    }
    if (!list->is_array())
        return Refuse(error, "the file", "\"converters\" is not an array");
    if (list->size() > kMaxSettingsEntries)
        return Refuse(error, "the file",
                      "more than " + std::to_string(kMaxSettingsEntries) + " converters");
    for (size_t i = 0; i < list->size(); ++i) {
        SettingsEntry entry;
        entry.where = "converters[" + std::to_string(i) + "]";
        if (!ParseJsonEntry((*list)[i], entry, error))
            return false;
        entries.push_back(std::move(entry));
    }
    return true;
}

// ---- CSV ----------------------------------------------------------------------------------------

struct CsvRecord {
    size_t line = 0; // where it starts
    std::vector<std::string> fields;
};

// Splits RFC 4180 text into records (CRLF or LF; quoted fields may hold commas, quotes as "" and
// line breaks). Blank lines are skipped. False with the reason for a broken quote.
bool SplitCsv(std::string_view text, std::vector<CsvRecord>& records, std::string* error) {
    size_t line = 1;
    size_t i = 0;
    while (i < text.size()) {
        CsvRecord record;
        record.line = line;
        std::string field;
        bool quotedField = false;
        for (;;) {
            if (i < text.size() && text[i] == '"' && field.empty() && !quotedField) {
                quotedField = true;
                for (++i;; ++i) {
                    if (i >= text.size())
                        return Refuse(error, "line " + std::to_string(record.line),
                                      "a quoted field is not closed");
                    if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                        field += '"';
                        ++i;
                    } else if (text[i] == '"') {
                        ++i;
                        break;
                    } else {
                        line += text[i] == '\n' ? 1 : 0;
                        field += text[i];
                    }
                }
                if (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n')
                    return Refuse(error, "line " + std::to_string(line),
                                  "text after a quoted field");
                continue;
            }
            if (i >= text.size() || text[i] == '\n' ||
                (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
                record.fields.push_back(std::move(field));
                i += i < text.size() ? (text[i] == '\r' ? 2 : 1) : 0;
                ++line;
                break;
            }
            if (text[i] == ',') {
                record.fields.push_back(std::move(field));
                field.clear();
                quotedField = false;
                ++i;
                continue;
            }
            if (text[i] == '"')
                return Refuse(error, "line " + std::to_string(line), "a quote inside a field");
            field += text[i++];
        }
        const bool blank = record.fields.size() == 1 && record.fields[0].empty() && !quotedField;
        if (!blank)
            records.push_back(std::move(record));
        if (records.size() > kMaxSettingsEntries + 1)
            return Refuse(error, "the file",
                          "more than " + std::to_string(kMaxSettingsEntries) + " converters");
    }
    return true;
}

// A spreadsheet takes a cell that starts with one of these for a formula; export writes such a
// letter after an apostrophe, as discover's CSV does, and the reader takes it off again.
constexpr std::string_view kFormulaStarts = "=+-@";

std::string Defused(const std::string& letter) {
    return letter.size() == 1 && kFormulaStarts.find(letter[0]) != std::string_view::npos
               ? "'" + letter
               : letter;
}

std::string Undefused(const std::string& cell) {
    const bool defused = cell.size() == 2 && cell[0] == '\'' &&
                         kFormulaStarts.find(cell[1]) != std::string_view::npos;
    return defused ? cell.substr(1) : cell;
}

bool ParseCsv(std::string_view text, std::vector<SettingsEntry>& entries, std::string* error) {
    std::vector<CsvRecord> records;
    if (!SplitCsv(text, records, error))
        return false;
    if (records.empty())
        return Refuse(error, "the file", "empty");
    const std::vector<std::string>& header = records.front().fields;
    for (size_t c = 0; c < header.size(); ++c) {
        if (header[c] != "mac" && !IsKnownKey(header[c]))
            return Refuse(error, "line 1", "unknown column '" + Shown(header[c]) + "'");
        if (std::find(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(c), header[c]) !=
            header.begin() + static_cast<std::ptrdiff_t>(c))
            return Refuse(error, "line 1", "column '" + header[c] + "' twice");
    }
    if (std::find(header.begin(), header.end(), "mac") == header.end())
        return Refuse(error, "line 1", "no column 'mac'");
    for (size_t r = 1; r < records.size(); ++r) {
        SettingsEntry entry;
        entry.where = "line " + std::to_string(records[r].line);
        const std::vector<std::string>& fields = records[r].fields;
        if (fields.size() != header.size())
            return Refuse(error, entry.where,
                          std::to_string(fields.size()) + " fields, the header has " +
                              std::to_string(header.size()));
        bool haveMac = false;
        for (size_t c = 0; c < fields.size(); ++c) {
            // An empty cell leaves the setting as it is, but the MAC address is always needed.
            if (fields[c].empty() && header[c] != "mac")
                continue;
            const std::string field = header[c] == "letter" ? Undefused(fields[c]) : fields[c];
            if (!TakeValue(entry, haveMac, header[c], field, error))
                return false;
        }
        entries.push_back(std::move(entry));
    }
    return true;
}

std::string CsvField(const std::string& text) {
    const bool blankAtEnd =
        !text.empty() && (std::isspace(static_cast<unsigned char>(text.front())) ||
                          std::isspace(static_cast<unsigned char>(text.back())));
    if (text.find_first_of(",\"\r\n") == std::string::npos && !blankAtEnd)
        return text;
    std::string quoted = "\"";
    for (const char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

} // namespace

std::optional<std::string>& SettingOf(WriteEdits& settings, std::string_view key) {
    if (key == "ip")
        return settings.ip;
    if (key == "netmask")
        return settings.netmask;
    if (key == "gateway")
        return settings.gateway;
    if (key == "port1")
        return settings.port1;
    if (key == "port2")
        return settings.port2;
    if (key == "peer")
        return settings.peer;
    if (key == "letter")
        return settings.letter;
    return settings.systemType;
}

const std::optional<std::string>& SettingOf(const WriteEdits& settings, std::string_view key) {
    return SettingOf(const_cast<WriteEdits&>(settings), key);
}

std::string CanonicalSettingText(std::string_view key, std::string_view text) {
    if (IsAddressKey(key)) {
        const std::optional<uint32_t> address = ParseIpText(text);
        return address ? IpToText(*address) : std::string();
    }
    if (IsPortKey(key))
        return AllDigits(text, 9) ? std::to_string(std::stoull(std::string(text))) : "";
    if (key == "letter")
        return text.size() == 1 && text[0] >= '!' && text[0] <= 'z' ? std::string(text) : "";
    if (key == "system_type") {
        std::string lower(text);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return static_cast<char>(std::tolower(c)); });
        if (SystemTypeFromName(lower))
            return lower;
        if (!AllDigits(text, 3) || std::stoul(std::string(text)) > 255)
            return "";
        const auto type = static_cast<uint8_t>(std::stoul(std::string(text)));
        const std::optional<std::string_view> name = SystemTypeName(type);
        return name ? std::string(*name) : std::to_string(type);
    }
    return "";
}

WriteEdits OfferedSettings(const LANconvDevice& listed) {
    LANconvDevice working = listed;
    BeginEdit(working);
    return SettingsOfWorking(working);
}

WriteEdits SettingsOfWorking(const LANconvDevice& working) {
    WriteEdits offered;
    const auto shown = [&](EditItem item) { return EditorItemStateOf(working, item).shown; };
    if (shown(EditItem::Ip))
        offered.ip = IpToText(working.dwIp);
    if (shown(EditItem::Netmask))
        offered.netmask = HostOrderIpToText(working.dwNetmask);
    if (shown(EditItem::Gateway))
        offered.gateway = IpToText(working.dwGateway);
    if (shown(EditItem::Port1))
        offered.port1 = std::to_string(working.wPort1);
    if (shown(EditItem::Port2))
        offered.port2 = std::to_string(working.wPort2);
    if (shown(EditItem::PeerIp))
        offered.peer = IpToText(working.dwPeerIp);
    // A letter the editor could not take back is left out: writing the file back must not fail.
    const uint8_t letter = working.chLetter;
    if (shown(EditItem::Letter) && (letter == 0 || (letter >= '!' && letter <= 'z')))
        offered.letter = letter == 0 ? std::string() : std::string(1, static_cast<char>(letter));
    if (shown(EditItem::SystemType)) {
        const std::optional<std::string_view> name = SystemTypeName(working.bySystemType);
        offered.systemType = name ? std::string(*name) : std::to_string(working.bySystemType);
    }
    return offered;
}

bool ParseSettingsFile(std::string_view text, std::vector<SettingsEntry>& entries,
                       std::string* error) {
    entries.clear();
    if (text.size() > kMaxSettingsFileBytes)
        return Refuse(error, "the file",
                      "larger than " + std::to_string(kMaxSettingsFileBytes) + " bytes");
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    const size_t first = text.find_first_not_of(" \t\r\n");
    const bool json = first != std::string_view::npos && (text[first] == '{' || text[first] == '[');
    if (!(json ? ParseJson(text, entries, error) : ParseCsv(text, entries, error))) {
        entries.clear();
        return false;
    }
    if (entries.empty())
        return Refuse(error, "the file", "no converter in it");
    std::map<MacAddress, std::string> seen;
    for (const SettingsEntry& entry : entries) {
        const auto [at, fresh] = seen.emplace(entry.mac, entry.where);
        if (!fresh) {
            const std::string where = entry.where;
            entries.clear();
            return Refuse(error, where,
                          ColonMacText(at->first) + " is given already at " + at->second);
        }
    }
    return true;
}

std::string FormatSettingsJson(const std::vector<SettingsEntry>& entries) {
    Json list = Json::array();
    for (const SettingsEntry& entry : entries) {
        Json object = {{"mac", ColonMacText(entry.mac)}};
        for (const char* key : kSettingsKeys) {
            const std::optional<std::string>& value = SettingOf(entry.settings, key);
            if (!value)
                continue;
            const bool number =
                (IsPortKey(key) || key == std::string_view("system_type")) && AllDigits(*value, 9);
            object[key] = number ? Json(std::stoull(*value)) : Json(*value);
        }
        list.push_back(std::move(object));
    }
    return Json{{"converters", std::move(list)}}.dump(2) + "\n";
}

std::string FormatSettingsCsv(const std::vector<SettingsEntry>& entries) {
    std::string text = "mac";
    for (const char* key : kSettingsKeys)
        text += std::string(",") + key;
    text += "\r\n";
    for (const SettingsEntry& entry : entries) {
        text += ColonMacText(entry.mac);
        for (const char* key : kSettingsKeys) {
            const std::string value = SettingOf(entry.settings, key).value_or("");
            text += "," + CsvField(key == std::string_view("letter") ? Defused(value) : value);
        }
        text += "\r\n";
    }
    return text;
}

} // namespace qarn::cli
