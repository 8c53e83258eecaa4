#include "cli/DeviceFormat.h"

#include <nlohmann/json.hpp>
#include <sstream>

#include <gtest/gtest.h>

namespace qarn::cli {
namespace {

ConverterRow SampleRow() {
    ConverterRow row;
    row.cells = {"198.18.1.7", "00 20 4a 90 00 07", "731458-0001-2345", "2.4.10.23"};
    row.ip = "198.18.1.7";
    row.mac = "00:20:4a:90:00:07";
    row.serial = "73145800012345";
    row.firmware = "2.4.10.23";
    row.firmwareNumber = 2041023;
    row.kind = 2;
    row.reachable = true;
    row.complete = true;
    row.reportedIp = "198.18.1.7";
    row.netmask = "255.255.0.0";
    row.gateway = "198.18.0.254";
    row.peer = "0.0.0.0";
    row.port1 = 4001;
    row.port2 = 58018;
    row.letter = 'B';
    row.systemType = 1;
    row.code = "K7";
    return row;
}

const std::vector<std::string> kKeys = {
    "ip",          "mac",       "serial",   "firmware",    "firmware_number",
    "kind",        "reachable", "complete", "reported_ip", "netmask",
    "gateway",     "peer",      "port1",    "port2",       "letter",
    "system_type", "code"};

TEST(DeviceFormatTest, JsonHasExactlyTheKeysWithTheirTypes) {
    ConverterRow second = SampleRow();
    second.kind = 0;
    second.systemType = 0xFF; // no name: shown as the number
    second.letter = 0;
    second.reachable = false;
    const auto json = nlohmann::json::parse(FormatJson({SampleRow(), second}));
    ASSERT_TRUE(json.is_array());
    ASSERT_EQ(json.size(), 2u);

    std::vector<std::string> keys;
    for (const auto& item : json[0].items())
        keys.push_back(item.key());
    // nlohmann::json sorts keys; the order on the wire is checked on the raw text below.
    std::vector<std::string> expected = kKeys;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(keys, expected);

    const auto& first = json[0];
    EXPECT_EQ(first["mac"], "00:20:4a:90:00:07");
    EXPECT_EQ(first["serial"], "73145800012345");
    EXPECT_EQ(first["firmware_number"], 2041023);
    EXPECT_EQ(first["kind"], "extended");
    EXPECT_EQ(first["reachable"], true);
    EXPECT_EQ(first["port2"], 58018);
    EXPECT_EQ(first["letter"], "B");
    EXPECT_EQ(first["system_type"], "tesk");
    EXPECT_EQ(json[1]["kind"], "none");
    EXPECT_EQ(json[1]["system_type"], 255);
    EXPECT_EQ(json[1]["letter"], "");
    EXPECT_EQ(json[1]["reachable"], false);

    const std::string text = FormatJson({SampleRow()});
    size_t last = 0;
    for (const std::string& key : kKeys) {
        const size_t at = text.find("\"" + key + "\"");
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at, last) << key << " out of order";
        last = at;
    }
}

TEST(DeviceFormatTest, JsonSurvivesBytesThatAreNotUtf8) {
    ConverterRow row = SampleRow();
    row.serial = std::string("7314\xff\x80", 6);
    row.letter = 0xE9; // Latin-1 e acute
    std::string text;
    ASSERT_NO_THROW(text = FormatJson({row}));
    const auto json = nlohmann::json::parse(text);
    EXPECT_EQ(json[0]["serial"], "7314\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(json[0]["letter"], "\xC3\xA9");
    EXPECT_EQ(nlohmann::json::parse(FormatJson({})), nlohmann::json::array());
}

// Splits CSV text by the RFC's rules, for checking what a reader gets back.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
    std::vector<std::vector<std::string>> lines(1, std::vector<std::string>(1));
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                lines.back().back() += text[++i];
            else if (c == '"')
                quoted = false;
            else
                lines.back().back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            lines.back().emplace_back();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            lines.emplace_back(1);
        } else {
            lines.back().back() += c;
        }
    }
    lines.pop_back(); // after the last CRLF
    return lines;
}

TEST(DeviceFormatTest, CsvQuotesWhatWouldBreakTheColumns) {
    ConverterRow row = SampleRow();
    row.serial = "73,14\"58";
    row.code = " K7 ";
    const std::string text = FormatCsv({row, SampleRow()});
    EXPECT_NE(text.find(",\"73,14\"\"58\","), std::string::npos) << text;
    const auto lines = ReadCsv(text);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], kKeys);
    ASSERT_EQ(lines[1].size(), kKeys.size());
    EXPECT_EQ(lines[1][2], "73,14\"58");
    EXPECT_EQ(lines[1][16], " K7 ");
    EXPECT_EQ(lines[2][4], "2041023");
    EXPECT_EQ(lines[2][6], "true");
    EXPECT_EQ(lines[2][15], "tesk");
}

// A converter's texts are the sender's to choose: in a CSV file they must neither drive the
// terminal that shows it, nor end a record early, nor run as a spreadsheet formula.
TEST(DeviceFormatTest, CsvDefusesControlsAndFormulasInConverterTexts) {
    const struct {
        const char* name;
        std::string text;
        std::string read; // what a CSV reader gets back
    } cases[] = {
        {"terminal controls", "\x1b[2J\x1b]0;owned\x07", "\\x1b[2J\\x1b]0;owned\\x07"},
        {"C1 control",
         "\xc2\x9b"
         "31m",
         "\\x9b31m"},
        {"line break", "a\r\nb", "a\\x0d\\x0ab"},
        {"not UTF-8", "73\xff", "73\\xff"},
        {"formula", "=HYPERLINK(\"http://x\",\"y\")", "'=HYPERLINK(\"http://x\",\"y\")"},
        {"plus", "+1+2", "'+1+2"},
        {"minus", "-1", "'-1"},
        {"at", "@SUM(A1)", "'@SUM(A1)"},
        {"tab before a formula", "\t=1", "\\x09=1"},
        {"formula sign inside", "7=3", "7=3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConverterRow row = SampleRow();
        row.serial = c.text;
        row.code = c.text;
        const std::string text = FormatCsv({row});
        for (const char byte : text)
            EXPECT_TRUE(byte >= 0x20 || byte == '\r' || byte == '\n') << static_cast<int>(byte);
        const auto lines = ReadCsv(text);
        ASSERT_EQ(lines.size(), 2u) << text;
        ASSERT_EQ(lines[1].size(), kKeys.size()) << text;
        EXPECT_EQ(lines[1][2], c.read);
        EXPECT_EQ(lines[1][16], c.read);
    }
    ConverterRow letter = SampleRow();
    letter.letter = '=';
    EXPECT_EQ(ReadCsv(FormatCsv({letter}))[1][14], "'=");
}

TEST(DeviceFormatTest, TableAlignsColumnsAndDefusesTerminalControls) {
    ConverterRow hostile = SampleRow();
    hostile.cells[2] = "\x1b[2J\x1b]0;owned\x07";
    hostile.cells[3] = std::string("\xc2\x9b"
                                   "31m",
                                   5); // C1 control sequence introducer
    hostile.reachable = false;
    const std::string table = FormatTable({SampleRow(), hostile});
    EXPECT_EQ(table.find('\x1b'), std::string::npos);
    EXPECT_EQ(table.find('\x07'), std::string::npos);
    EXPECT_EQ(table.find("\xc2\x9b"), std::string::npos);
    EXPECT_NE(table.find("\\x1b[2J\\x1b]0;owned\\x07"), std::string::npos);
    EXPECT_NE(table.find("\\x9b31m"), std::string::npos);

    std::istringstream lines(table);
    std::string heading, first, second;
    std::getline(lines, heading);
    std::getline(lines, first);
    std::getline(lines, second);
    // Every column starts at the same place on every line, however long the escaped text.
    const size_t reachable = heading.find("REACHABLE");
    EXPECT_EQ(first.substr(reachable, 3), "yes");
    EXPECT_EQ(second.substr(reachable, 2), "no");
    EXPECT_EQ(first.find("2.4.10.23"), heading.find("FIRMWARE"));
    EXPECT_EQ(second.find("\\x9b31m"), heading.find("FIRMWARE"));
}

TEST(DeviceFormatTest, TerminalSafeKeepsTextAndEscapesTheRest) {
    const struct {
        const char* name;
        std::string in;
        std::string out;
    } cases[] = {
        {"plain", "731458-0001-2345", "731458-0001-2345"},
        {"UTF-8 letters kept",
         "Gr\xc3\xbc\xc3\x9f"
         "e",
         "Gr\xc3\xbc\xc3\x9f"
         "e"},
        {"escape and newline", "a\x1b\nb", "a\\x1b\\x0ab"},
        {"delete", "\x7f", "\\x7f"},
        {"stray byte", "\xff", "\\xff"},
        {"cut sequence", "\xe2\x82", "\\xe2\\x82"},
        {"overlong slash", "\xc0\xaf", "\\xc0\\xaf"},
        {"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TerminalSafe(c.in), c.out);
    }
}

TEST(DeviceFormatTest, RecordListsEveryKeyOnce) {
    const std::string record = FormatRecord(SampleRow());
    std::istringstream lines(record);
    std::string line;
    std::vector<std::string> keys;
    while (std::getline(lines, line))
        keys.push_back(line.substr(0, line.find(':')));
    EXPECT_EQ(keys, kKeys);
    EXPECT_NE(record.find("system_type:     tesk\n"), std::string::npos);
}

} // namespace
} // namespace qarn::cli
