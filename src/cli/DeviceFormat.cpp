#include "cli/DeviceFormat.h"

#include "protocol/ConverterText.h"
#include "protocol/LANconvDevice.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string_view>

namespace qarn::cli {

namespace {

// Length of the well-formed UTF-8 sequence at text[pos] with its code point, or 0 when the bytes
// there are not one (stray continuation byte, overlong form, surrogate, beyond U+10FFFF, cut off).
size_t DecodeUtf8(const std::string& text, size_t pos, uint32_t& codePoint) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(pos);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    size_t length = 0;
    uint32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        minimum = 0x80;
        codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        minimum = 0x800;
        codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        minimum = 0x10000;
        codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - pos < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80)
            return 0;
        codePoint = codePoint << 6 | (byte(pos + i) & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

bool IsControl(uint32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

std::string Escaped(uint8_t byte) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02x", byte);
    return text;
}

// Characters a terminal advances by; wide characters count one, which only widens a column.
size_t DisplayWidth(const std::string& safeText) {
    size_t width = 0;
    for (const char c : safeText)
        width += (static_cast<uint8_t>(c) & 0xC0) != 0x80 ? 1 : 0;
    return width;
}

const char* KindName(int32_t kind) {
    switch (kind) {
    case kKindStandard:
        return "standard";
    case kKindExtended:
        return "extended";
    default:
        return "none";
    }
}

std::string YesNo(bool value) {
    return value ? "yes" : "no";
}

nlohmann::ordered_json JsonObject(const ConverterRow& row) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const RowField& field : RowFields(row))
        std::visit([&](const auto& value) { object[field.key] = value; }, field.value);
    return object;
}

std::string DumpJson(const nlohmann::ordered_json& value) {
    // Converter texts arrive as raw bytes; replace what is not UTF-8 instead of failing.
    return value.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// A spreadsheet takes a cell that starts with one of these for a formula: "=HYPERLINK(...)".
bool StartsFormula(const std::string& text) {
    return !text.empty() && std::string_view("=+-@").find(text.front()) != std::string_view::npos;
}

// Escaped as the table escapes (no control character reaches a terminal that shows the file, and a
// line break cannot end a record early), a formula start defused with an apostrophe, which
// spreadsheets take for "text" ("=1+2" -> "'=1+2"), and quoted when the RFC asks for it.
std::string CsvField(const std::string& raw) {
    std::string text = TerminalSafe(raw);
    if (StartsFormula(text))
        text.insert(0, 1, '\'');
    const bool quote = text.find_first_of(",\"") != std::string::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote)
        return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

std::string FieldText(const RowField& field) {
    if (const auto* text = std::get_if<std::string>(&field.value))
        return *text;
    if (const auto* number = std::get_if<uint64_t>(&field.value))
        return std::to_string(*number);
    return std::get<bool>(field.value) ? "true" : "false";
}

} // namespace

std::vector<RowField> RowFields(const ConverterRow& row) {
    std::vector<RowField> fields{
        {"ip", row.ip},
        {"mac", row.mac},
        {"serial", row.serial},
        {"firmware", row.firmware},
        {"firmware_number", uint64_t{row.firmwareNumber}},
        {"kind", KindName(row.kind)},
        {"reachable", row.reachable},
        {"complete", row.complete},
        {"reported_ip", row.reportedIp},
        {"netmask", row.netmask},
        {"gateway", row.gateway},
        {"peer", row.peer},
        {"port1", uint64_t{row.port1}},
        {"port2", uint64_t{row.port2}},
        {"letter", LetterText(row.letter)},
        {"system_type", uint64_t{row.systemType}},
        {"code", row.code},
    };
    if (const auto name = SystemTypeName(row.systemType))
        fields[15].value = std::string(*name);
    return fields;
}

std::string TerminalSafe(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        uint32_t codePoint = 0;
        const size_t length = DecodeUtf8(text, pos, codePoint);
        if (length == 0) {
            out += Escaped(static_cast<uint8_t>(text[pos]));
            ++pos;
            continue;
        }
        if (IsControl(codePoint))
            out += Escaped(static_cast<uint8_t>(codePoint)); // C1 codes fit one byte as well
        else
            out.append(text, pos, length);
        pos += length;
    }
    return out;
}

std::string FormatTable(const std::vector<ConverterRow>& rows) {
    std::vector<std::array<std::string, 6>> lines;
    lines.push_back({"ADDRESS", "MAC", "SERIAL", "FIRMWARE", "REACHABLE", "COMPLETE"});
    for (const ConverterRow& row : rows)
        lines.push_back({TerminalSafe(row.cells[0]), TerminalSafe(row.cells[1]),
                         TerminalSafe(row.cells[2]), TerminalSafe(row.cells[3]),
                         YesNo(row.reachable), YesNo(row.complete)});
    std::array<size_t, 6> widths{};
    for (const auto& line : lines) {
        for (size_t c = 0; c < line.size(); ++c)
            widths[c] = std::max(widths[c], DisplayWidth(line[c]));
    }
    std::string out;
    for (const auto& line : lines) {
        std::string text;
        for (size_t c = 0; c < line.size(); ++c) {
            text += line[c];
            if (c + 1 < line.size())
                text.append(widths[c] - DisplayWidth(line[c]) + 2, ' ');
        }
        out += text + "\n";
    }
    return out;
}

std::string FormatJson(const std::vector<ConverterRow>& rows) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const ConverterRow& row : rows)
        array.push_back(JsonObject(row));
    return DumpJson(array);
}

std::string FormatJsonObject(const ConverterRow& row) {
    return DumpJson(JsonObject(row));
}

std::string FormatCsv(const std::vector<ConverterRow>& rows) {
    std::string out;
    const auto line = [&](const std::vector<std::string>& fields) {
        for (size_t i = 0; i < fields.size(); ++i)
            out += (i > 0 ? "," : "") + CsvField(fields[i]);
        out += "\r\n";
    };
    std::vector<std::string> header;
    for (const RowField& field : RowFields(ConverterRow{}))
        header.emplace_back(field.key);
    line(header);
    for (const ConverterRow& row : rows) {
        std::vector<std::string> fields;
        for (const RowField& field : RowFields(row))
            fields.push_back(FieldText(field));
        line(fields);
    }
    return out;
}

std::string FormatRecord(const ConverterRow& row) {
    const std::vector<RowField> fields = RowFields(row);
    size_t width = 0;
    for (const RowField& field : fields)
        width = std::max(width, std::string(field.key).size());
    std::string out;
    for (const RowField& field : fields) {
        const std::string key = field.key;
        out += key + ":" + std::string(width - key.size() + 1, ' ') +
               TerminalSafe(FieldText(field)) + "\n";
    }
    return out;
}

} // namespace qarn::cli
