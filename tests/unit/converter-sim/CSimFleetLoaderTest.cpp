// Fleet descriptions: generated fleets, per-address changes, and errors that name their key.
#include "CSimFleetLoader.h"

#include "SimText.h"

#include <map>
#include <set>

#include <gtest/gtest.h>

namespace qarn::sim {
namespace {

using nlohmann::json;

std::vector<SimConverterConfig> Load(const json& fleet) {
    std::vector<SimConverterConfig> configs;
    std::string why;
    EXPECT_TRUE(CSimFleetLoader::FromJson(fleet, &configs, &why)) << why;
    return configs;
}

TEST(SimFleetLoaderTest, GeneratedFleetFollowsTheMix) {
    const auto configs = Load(json::parse(R"({
        "seed": 3,
        "generate": {"count": 12, "first": "198.18.1.250", "mix": {"extended": 2, "blocks": 1}}
    })"));
    ASSERT_EQ(configs.size(), 12u);
    std::map<std::string, int> articles;
    std::set<std::string> serials;
    std::set<std::string> macs;
    int blockStyle = 0;
    for (size_t i = 0; i < configs.size(); ++i) {
        const SimSettings& s = configs[i].settings;
        EXPECT_EQ(s.ip, 0xC61201FAu + i) << "consecutive addresses across 198.18.1.255";
        EXPECT_EQ(s.gateway, 0xC6120001u) << "first host of the /16";
        ASSERT_EQ(s.serial.size(), 14u);
        ++articles[s.serial.substr(0, 6)];
        serials.insert(s.serial);
        macs.insert(MacText(s.mac));
        const bool extended = s.marker == kMarkerExtended;
        EXPECT_EQ(extended, s.firmwareVersion >= 3000000);
        if (configs[i].style == SimAnswerStyle::Blocks) {
            ++blockStyle;
            EXPECT_EQ(s.marker, kMarkerStandard);
            EXPECT_EQ(configs[i].EffectiveLayout(), SimFirmwareLayout::Fixed126);
        }
    }
    EXPECT_EQ(blockStyle, 4);
    EXPECT_EQ(articles["731458"] + articles["762904"], 8);
    EXPECT_EQ(articles["738812"] + articles["469517"] + articles["762358"] + articles["469823"], 4);
    EXPECT_EQ(serials.size(), 12u);
    EXPECT_EQ(macs.size(), 12u);
}

TEST(SimFleetLoaderTest, EntryAtAGeneratedAddressChangesThatConverter) {
    const auto configs = Load(json::parse(R"({
        "defaults": {"delay_ms": [0, 1000], "prefix": 24},
        "generate": {"count": 3},
        "converters": [
            {"ip": "198.18.1.2", "kind": "other", "misbehave": {"silent_from_block": 3,
             "wrong_echo": {"block": 8, "times": 1, "then_right": true}}},
            {"ip": "198.18.7.7", "version": "2.4.10.23", "letter": "Z", "gateway": "198.18.7.254",
             "blocks": ["D5", "F7"], "layout": "blocks1024"}
        ]
    })"));
    ASSERT_EQ(configs.size(), 4u);
    EXPECT_EQ(configs[0].delay.maxMs, 1000u);
    EXPECT_EQ(configs[0].settings.prefix, 24);
    EXPECT_EQ(configs[0].settings.gateway, 0xC6120101u) << "first host of 198.18.1.0/24";
    const SimConverterConfig& changed = configs[1];
    EXPECT_EQ(changed.settings.ip, 0xC6120102u);
    EXPECT_EQ(changed.settings.marker, 0u);
    EXPECT_EQ(changed.misbehave.silentFromBlock.value_or(0), 3);
    EXPECT_TRUE(changed.misbehave.wrongEcho.enabled);
    EXPECT_EQ(changed.misbehave.wrongEcho.block.value_or(0), 8);
    EXPECT_TRUE(changed.misbehave.wrongEchoThenRight);
    EXPECT_EQ(changed.delay.maxMs, 1000u) << "defaults still apply";
    const SimConverterConfig& added = configs[3];
    EXPECT_EQ(added.settings.ip, 0xC6120707u);
    EXPECT_EQ(added.settings.firmwareVersion, 2041023u);
    EXPECT_EQ(added.settings.letter, 'Z');
    EXPECT_EQ(added.settings.gateway, 0xC61207FEu);
    EXPECT_EQ(added.blockCodes, std::vector<uint8_t>({0xD5, 0xF7}));
    EXPECT_EQ(added.EffectiveLayout(), SimFirmwareLayout::Blocks1024);
}

TEST(SimFleetLoaderTest, SameSeedSameFleet) {
    const json fleet = json::parse(R"({"seed": 9, "generate": {"count": 5}})");
    const auto a = Load(fleet);
    const auto b = Load(fleet);
    json other = fleet;
    other["seed"] = 10;
    const auto c = Load(other);
    ASSERT_EQ(a.size(), 5u);
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].settings.serial, b[i].settings.serial);
        EXPECT_EQ(a[i].seed, b[i].seed);
        EXPECT_NE(a[i].settings.serial, c[i].settings.serial);
        EXPECT_NE(a[i].seed, c[i].seed);
    }
}

TEST(SimFleetLoaderTest, FaultyDescriptionNamesTheKey) {
    struct Row {
        const char* fleet;
        const char* mentioned;
    };
    const Row rows[] = {
        {R"({"generate": {"count": 1}, "defaults": {"dealy_ms": 5}})", "defaults.dealy_ms"},
        {R"({"converters": [{"ip": "198.18.1.300"}]})", "converters[0].ip"},
        {R"({"converters": [{"ip": "1.2.3.4", "version": "3.2.100.1"}]})", "version"},
        {R"({"converters": [{"ip": "1.2.3.4", "delay_ms": [900, 100]}]})", "delay_ms"},
        {R"({"converters": [{"ip": "1.2.3.4", "serial": "731458123456789"}]})", "serial"},
        {R"({"converters": [{"ip": "1.2.3.4", "kind": "giant"}]})", "kind"},
        {R"({"converters": [{"ip": "1.2.3.4", "misbehave": {"loss_in": 1.5}}]})", "loss_in"},
        {R"({"converters": [{"ip": "1.2.3.4", "misbehave": {"lose": 1}}]})", "misbehave.lose"},
        {R"({"converters": [{"mac": "02:00:00:00:00:01"}]})", "ip"},
        {R"({"generate": {"count": 3, "first": "255.255.255.254"}})", "generate.count"},
        {R"({"generate": {"count": 3, "mix": {"extended": 0}}})", "generate.mix"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fleet);
        std::vector<SimConverterConfig> configs;
        std::string why;
        EXPECT_FALSE(CSimFleetLoader::FromJson(json::parse(row.fleet), &configs, &why));
        EXPECT_NE(why.find(row.mentioned), std::string::npos) << why;
    }
}

// A million brackets parse without recursion, but copying them recursed once per level until the
// stack ran out. The loader refuses them, and anything past its depth, with a reason.
TEST(SimFleetLoaderTest, DeeplyNestedDescriptionIsRefused) {
    const auto nested = [](const std::string& key, size_t levels) {
        return json::parse("{\"" + key + "\": " + std::string(levels, '[') +
                           std::string(levels, ']') + "}");
    };
    for (const auto& [key, levels] :
         std::vector<std::pair<std::string, size_t>>{{"converters", 1000000},
                                                     {"defaults", 1000000},
                                                     {"converters", CSimFleetLoader::kMaxDepth}}) {
        SCOPED_TRACE(key + " " + std::to_string(levels));
        std::vector<SimConverterConfig> configs;
        std::string why;
        EXPECT_FALSE(CSimFleetLoader::FromJson(nested(key, levels), &configs, &why));
        EXPECT_NE(why.find("nested deeper than 32 levels"), std::string::npos) << why;
    }
    // At the limit the description is read (and found wrong for what it holds, not its depth).
    std::vector<SimConverterConfig> configs;
    std::string why;
    EXPECT_FALSE(CSimFleetLoader::FromJson(nested("converters", CSimFleetLoader::kMaxDepth - 1),
                                           &configs, &why));
    EXPECT_EQ(why.find("nested"), std::string::npos) << why;
    EXPECT_EQ(Load(json::parse(R"({"converters": [{"ip": "198.18.1.1", "misbehave":
        {"wrong_echo": {"block": 2, "times": 1}}}]})"))
                  .size(),
              1u);
}

} // namespace
} // namespace qarn::sim
