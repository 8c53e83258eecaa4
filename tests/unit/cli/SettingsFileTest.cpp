#include "cli/SettingsFile.h"

#include "cli/Target.h"
#include "protocol/EditRules.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qarn::cli {
namespace {

SettingsEntry Entry(const char* mac, WriteEdits settings) {
    return {*ParseMac(mac), std::move(settings), {}};
}

std::vector<SettingsEntry> Sample() {
    WriteEdits full;
    full.ip = "198.18.1.1";
    full.netmask = "255.255.0.0";
    full.gateway = "198.18.0.1";
    full.port1 = "4001";
    full.port2 = "4002";
    full.peer = "198.18.0.9";
    full.letter = ",";
    full.systemType = "tesk";
    WriteEdits address;
    address.ip = "198.18.1.2";
    WriteEdits unnamed;
    unnamed.systemType = "7";
    unnamed.letter = "";
    WriteEdits formula;
    formula.letter = "=";
    return {Entry("02:51:00:00:00:01", full), Entry("02:51:00:00:00:02", address),
            Entry("02:51:00:00:00:03", unnamed), Entry("02:51:00:00:00:04", formula)};
}

bool SameEntries(const std::vector<SettingsEntry>& a, const std::vector<SettingsEntry>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].mac != b[i].mac)
            return false;
        for (const char* key : kSettingsKeys)
            if (SettingOf(a[i].settings, key) != SettingOf(b[i].settings, key))
                return false;
    }
    return true;
}

TEST(SettingsFileTest, BothFormsReadBackWhatExportWrote) {
    std::vector<SettingsEntry> read;
    std::string error;
    ASSERT_TRUE(ParseSettingsFile(FormatSettingsJson(Sample()), read, &error)) << error;
    EXPECT_TRUE(SameEntries(read, Sample()));
    EXPECT_EQ(read[1].where, "converters[1]");

    const std::string csv = FormatSettingsCsv(Sample());
    EXPECT_NE(csv.find("\r\n02:51:00:00:00:01,198.18.1.1,255.255.0.0,198.18.0.1,4001,4002,"
                       "198.18.0.9,\",\",tesk\r\n"),
              std::string::npos)
        << csv;
    EXPECT_NE(csv.find("\r\n02:51:00:00:00:04,,,,,,,'=,\r\n"), std::string::npos)
        << "no formula for a spreadsheet";
    ASSERT_TRUE(ParseSettingsFile(csv, read, &error)) << error;
    // CSV has no way to say "no letter": an empty cell leaves the letter as it is.
    std::vector<SettingsEntry> expected = Sample();
    expected[2].settings.letter.reset();
    EXPECT_TRUE(SameEntries(read, expected));
    EXPECT_EQ(read[2].where, "line 4");
}

TEST(SettingsFileTest, ValuesAreTakenInTheirCanonicalForm) {
    std::vector<SettingsEntry> read;
    std::string error;
    ASSERT_TRUE(ParseSettingsFile("\xEF\xBB\xBFmac,port1,system_type,gateway\n"
                                  "0251.0000.0001,04001,Vardo,198.18.0.1\n"
                                  "\n"
                                  "\"02-51-00-00-00-02\",\"70000\",2,\n",
                                  read, &error))
        << error;
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].settings.port1, "4001");
    EXPECT_EQ(read[0].settings.systemType, "vardo");
    EXPECT_EQ(read[1].settings.port1, "70000") << "the write's rule corrects it, as for write";
    EXPECT_EQ(read[1].settings.systemType, "vardo");
    EXPECT_FALSE(read[1].settings.gateway) << "an empty cell is no setting";
    EXPECT_EQ(read[1].where, "line 4");
}

TEST(SettingsFileTest, AMalformedFileIsRefusedWithWhereAndWhat) {
    const struct {
        const char* name;
        std::string text;
        const char* error;
    } cases[] = {
        {"empty", "", "the file: empty"},
        {"header only", "mac,ip\r\n", "the file: no converter in it"},
        {"unknown column", "mac,gatway\n02:51:00:00:00:01,1.2.3.4\n",
         "line 1: unknown column 'gatway'"},
        {"column twice", "mac,ip,ip\n", "line 1: column 'ip' twice"},
        {"no mac column", "ip\n198.18.1.1\n", "line 1: no column 'mac'"},
        {"short row", "mac,ip\n02:51:00:00:00:01\n", "line 2: 1 fields, the header has 2"},
        {"bad port", "mac,port1\n\n02:51:00:00:00:01,40x1\n",
         "line 3: port1 '40x1' is not a port number"},
        {"bad address", "mac,ip\n02:51:00:00:00:01,198.18.1\n",
         "line 2: ip '198.18.1' is not a dotted IPv4 address"},
        {"bad mac", "mac\n02:51:00:00:01\n", "line 2: mac '02:51:00:00:01' is not a MAC address"},
        {"missing mac", "mac,ip\n,198.18.1.1\n", "line 2: mac '' is not a MAC address"},
        {"open quote", "mac,ip\n\"02:51:00:00:00:01,198.18.1.1\n",
         "line 2: a quoted field is not closed"},
        {"text after quote", "mac\n\"02:51:00:00:00:01\"x\n", "line 2: text after a quoted field"},
        {"control character shown escaped", "mac,letter\n02:51:00:00:00:01,\x1b\n",
         "line 2: letter '\\x1b' is not one character from ! to z, or nothing"},
        {"mac twice", "mac\n02:51:00:00:00:01\n02-51-00-00-00-01\n",
         "line 3: 02:51:00:00:00:01 is given already at line 2"},
        {"json syntax", "{\"converters\": [\n  {\"mac\": \"02:51:00:00:00:01\",}\n]}",
         "line 2, column 31: not valid JSON"},
        {"json unknown field", R"({"converters": [{"mac": "02:51:00:00:00:01", "gatway": "x"}]})",
         "converters[0]: unknown field 'gatway'"},
        {"json no mac", R"([{"ip": "198.18.1.1"}])", "converters[0]: no mac"},
        {"json negative port", R"([{"mac": "02:51:00:00:00:01", "port1": -1}])",
         "converters[0]: port1 must be a port number in quotes or a number"},
        {"json number address", R"([{"mac": "02:51:00:00:00:01", "ip": 3}])",
         "converters[0]: ip must be a dotted IPv4 address in quotes"},
        {"json not an object", R"([7])",
         "converters[0]: not an object with a converter's settings"},
        {"json top-level stranger", R"({"converters": [], "colour": 1})",
         "the file: unknown field 'colour'"},
        {"json without list", R"({})", "the file: no \"converters\" array"},
        {"json too deep", std::string(50, '[') + std::string(50, ']'),
         "the file: nested deeper than a settings file is"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<SettingsEntry> read = Sample();
        std::string error;
        EXPECT_FALSE(ParseSettingsFile(c.text, read, &error));
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(read.empty()) << "nothing half-read is left";
    }
}

TEST(SettingsFileTest, AConverterExportsWhatTheEditorOffersIt) {
    LANconvDevice record;
    record.nKind = kKindExtended;
    record.dwSourceIp = 0x0401'12C6; // 198.18.1.4
    record.dwIp = record.dwSourceIp;
    record.dwNetmask = 0xFFFF0000;
    record.dwFirmwareVersion = 3012004;
    record.wPort1 = 4001;
    record.chLetter = 0x7F; // outside what the editor takes back
    record.bySystemType = 1;
    for (bool& seen : record.abBlockSeen)
        seen = true;
    record.bComplete = true;
    const WriteEdits offered = OfferedSettings(record);
    EXPECT_EQ(offered.ip, "198.18.1.4");
    EXPECT_EQ(offered.netmask, "255.255.0.0");
    EXPECT_EQ(offered.port1, "4001");
    EXPECT_FALSE(offered.port2) << "firmware 3.0.0.0 and later has no second port";
    EXPECT_FALSE(offered.letter);
    EXPECT_EQ(offered.systemType, "tesk");

    record.nKind = kKindStandard;
    const WriteEdits standard = OfferedSettings(record);
    EXPECT_TRUE(standard.ip && standard.netmask && standard.gateway);
    EXPECT_FALSE(standard.port1 || standard.peer || standard.letter || standard.systemType);
}

} // namespace
} // namespace qarn::cli
