#include "CSimFleetLoader.h"

#include "SimText.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>

namespace qarn::sim {

namespace {

using nlohmann::json;

// Thrown inside this file only, with the path of the faulty key; FromJson turns it into `why`.
struct FleetError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw FleetError(where + ": " + what);
}

uint64_t Number(const json& value, const std::string& where, uint64_t max) {
    // nlohmann keeps a literal 1 as a signed integer and a parsed 1 as unsigned: take both.
    const bool whole =
        value.is_number_unsigned() || (value.is_number_integer() && value.get<int64_t>() >= 0);
    if (!whole || value.get<uint64_t>() > max)
        Fail(where, "expected a whole number 0.." + std::to_string(max));
    return value.get<uint64_t>();
}

uint8_t Byte(const json& value, const std::string& where) {
    return static_cast<uint8_t>(Number(value, where, 255));
}

// A number, or text such as "0x12131417".
uint32_t Word(const json& value, const std::string& where) {
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        char* end = nullptr;
        const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
        if (text.empty() || *end != 0 || parsed > UINT32_MAX)
            Fail(where, "expected a 32-bit number");
        return static_cast<uint32_t>(parsed);
    }
    return static_cast<uint32_t>(Number(value, where, UINT32_MAX));
}

std::string Text(const json& value, const std::string& where, size_t maxSize) {
    if (!value.is_string() || value.get<std::string>().size() > maxSize)
        Fail(where, "expected text of at most " + std::to_string(maxSize) + " characters");
    return value.get<std::string>();
}

uint32_t Ip(const json& value, const std::string& where) {
    uint32_t ip = 0;
    if (!value.is_string() || !ParseIp(value.get<std::string>(), &ip))
        Fail(where, "expected an IPv4 address a.b.c.d");
    return ip;
}

uint32_t Version(const json& value, const std::string& where) {
    uint32_t version = 0;
    if (!value.is_string() || !ParseVersion(value.get<std::string>(), &version))
        Fail(where, "expected a version w.x.y.z");
    return version;
}

double Share(const json& value, const std::string& where) {
    if (!value.is_number() || value.get<double>() < 0 || value.get<double>() > 1)
        Fail(where, "expected a share 0..1");
    return value.get<double>();
}

uint8_t BlockCode(const json& value, const std::string& where) {
    const uint32_t code =
        value.is_string() ? Word("0x" + value.get<std::string>(), where) : Word(value, where);
    if (code > 0xFF)
        Fail(where, "expected a block code such as \"D5\"");
    return static_cast<uint8_t>(code);
}

SimAnswerStyle Style(const json& value, const std::string& where) {
    static const std::map<std::string, SimAnswerStyle> kStyles = {
        {"config88", SimAnswerStyle::Config88},
        {"config80", SimAnswerStyle::Config80},
        {"blocks", SimAnswerStyle::Blocks},
        {"both", SimAnswerStyle::ConfigAndBlocks}};
    const auto it = value.is_string() ? kStyles.find(value.get<std::string>()) : kStyles.end();
    if (it == kStyles.end())
        Fail(where, "expected config88, config80, blocks or both");
    return it->second;
}

SimDelay Delay(const json& value, const std::string& where) {
    if (value.is_array() && value.size() == 2) {
        SimDelay delay{static_cast<uint32_t>(Number(value[0], where, 3600000)),
                       static_cast<uint32_t>(Number(value[1], where, 3600000))};
        if (delay.maxMs < delay.minMs)
            Fail(where, "the window ends before it begins");
        return delay;
    }
    const auto ms = static_cast<uint32_t>(Number(value, where, 3600000));
    return {ms, ms};
}

// True when `value` nests arrays and objects deeper than `limit` levels. Walks with a stack of its
// own, so that no depth can exhaust the thread's.
bool NestsDeeperThan(const json& value, size_t limit) {
    std::vector<std::pair<const json*, size_t>> pending{{&value, 1}};
    while (!pending.empty()) {
        const auto [item, depth] = pending.back();
        pending.pop_back();
        if (!item->is_structured())
            continue;
        if (depth > limit)
            return true;
        for (const json& child : *item)
            pending.emplace_back(&child, depth + 1);
    }
    return false;
}

void CheckKeys(const json& object, const std::set<std::string>& known, const std::string& where) {
    if (!object.is_object())
        Fail(where, "expected an object");
    for (const auto& item : object.items())
        if (known.count(item.key()) == 0)
            Fail(where + "." + item.key(), "unknown key");
}

SimFault Fault(const json& value, const std::string& where) {
    CheckKeys(value, {"block", "times", "then_right", "length"}, where);
    SimFault fault;
    fault.enabled = true;
    if (value.contains("block"))
        fault.block = static_cast<uint16_t>(Number(value["block"], where + ".block", 0xFFFF));
    if (value.contains("times"))
        fault.times = static_cast<uint32_t>(Number(value["times"], where + ".times", UINT32_MAX));
    return fault;
}

void ApplyMisbehaviour(const json& value, SimMisbehaviour& m, const std::string& where) {
    CheckKeys(value,
              {"silent_from_block", "wrong_echo", "wrong_ack_length", "commit_ack_lost",
               "config_length", "answer_from", "duplicates", "loss_in", "loss_out"},
              where);
    for (const auto& item : value.items()) {
        const std::string& key = item.key();
        const json& v = item.value();
        const std::string at = where + "." + key;
        if (key == "silent_from_block") {
            m.silentFromBlock = static_cast<uint16_t>(Number(v, at, 0xFFFF));
        } else if (key == "wrong_echo") {
            m.wrongEcho = Fault(v, at);
            m.wrongEchoThenRight = v.value("then_right", false);
        } else if (key == "wrong_ack_length") {
            m.wrongAckLength = Fault(v, at);
            m.ackLength = static_cast<uint32_t>(Number(v.value("length", json(0)), at, 1472));
        } else if (key == "commit_ack_lost") {
            if (!v.is_boolean())
                Fail(at, "expected true or false");
            m.commitAckLost = v.get<bool>();
        } else if (key == "config_length") {
            m.configAnswerLength = static_cast<uint32_t>(Number(v, at, 1472));
        } else if (key == "answer_from") {
            m.answerFrom = Ip(v, at);
        } else if (key == "duplicates") {
            m.duplicates = static_cast<uint32_t>(Number(v, at, 100));
        } else if (key == "loss_in") {
            m.lossIn = Share(v, at);
        } else {
            m.lossOut = Share(v, at);
        }
    }
}

const std::set<std::string> kConverterKeys = {
    "ip",         "kind",     "mac",      "serial",   "version",
    "marker",     "prefix",   "gateway",  "peer",     "extra_ip",
    "port1",      "port2",    "code",     "letter",   "system_type",
    "option_a",   "option_b", "option_c", "option_d", "option_e",
    "style",      "delay_ms", "blocks",   "layout",   "version_after_update",
    "restart_ms", "seed",     "misbehave"};

// Settings keys, one field each.
bool ApplySettingsKey(const std::string& key, const json& v, const std::string& at,
                      SimSettings& s) {
    static const std::map<std::string, uint8_t SimSettings::*> kBytes = {
        {"option_a", &SimSettings::optionA}, {"option_b", &SimSettings::optionB},
        {"option_c", &SimSettings::optionC}, {"option_d", &SimSettings::optionD},
        {"option_e", &SimSettings::optionE}, {"system_type", &SimSettings::systemType}};
    static const std::map<std::string, uint32_t SimSettings::*> kAddresses = {
        {"ip", &SimSettings::ip},
        {"gateway", &SimSettings::gateway},
        {"peer", &SimSettings::peer},
        {"extra_ip", &SimSettings::extraIp}};
    if (const auto it = kBytes.find(key); it != kBytes.end())
        s.*(it->second) = Byte(v, at);
    else if (const auto ad = kAddresses.find(key); ad != kAddresses.end())
        s.*(ad->second) = Ip(v, at);
    else if (key == "mac" && !(v.is_string() && ParseMac(v.get<std::string>(), &s.mac)))
        Fail(at, "expected a MAC address 02:51:00:00:00:01");
    else if (key == "serial")
        s.serial = Text(v, at, 14);
    else if (key == "version")
        s.firmwareVersion = Version(v, at);
    else if (key == "marker")
        s.marker = Word(v, at);
    else if (key == "prefix")
        s.prefix = static_cast<uint8_t>(Number(v, at, 32));
    else if (key == "port1" || key == "port2")
        (key == "port1" ? s.port1 : s.port2) = static_cast<uint16_t>(Number(v, at, 0xFFFF));
    else if (key == "code")
        s.code = Text(v, at, 4);
    else if (key == "letter")
        s.letter = v.is_string() ? static_cast<uint8_t>(Text(v, at, 1).c_str()[0]) : Byte(v, at);
    else
        return key == "mac";
    return true;
}

void ApplyConverterKeys(const json& object, SimConverterConfig& c, const std::string& where) {
    CheckKeys(object, kConverterKeys, where);
    for (const auto& item : object.items()) {
        const std::string& key = item.key();
        const json& v = item.value();
        const std::string at = where + "." + key;
        if (key == "kind" || ApplySettingsKey(key, v, at, c.settings))
            continue;
        if (key == "style") {
            c.style = Style(v, at);
        } else if (key == "delay_ms") {
            c.delay = Delay(v, at);
        } else if (key == "blocks") {
            if (!v.is_array())
                Fail(at, "expected a list of block codes");
            c.blockCodes.clear();
            for (const auto& code : v)
                c.blockCodes.push_back(BlockCode(code, at));
        } else if (key == "layout") {
            const std::string layout = Text(v, at, 16);
            if (layout == "auto")
                c.layout.reset();
            else if (layout == "blocks1024" || layout == "fixed126")
                c.layout = layout == "fixed126" ? SimFirmwareLayout::Fixed126
                                                : SimFirmwareLayout::Blocks1024;
            else
                Fail(at, "expected auto, blocks1024 or fixed126");
        } else if (key == "version_after_update") {
            c.versionAfter1024Update = Version(v, at);
        } else if (key == "restart_ms") {
            c.restartMs = static_cast<uint32_t>(Number(v, at, 3600000));
        } else if (key == "seed") {
            c.seed = Number(v, at, UINT64_MAX);
        } else {
            ApplyMisbehaviour(v, c.misbehave, at);
        }
    }
}

// Kinds in the ratio of `mix`, interleaved by smooth weighted round robin: {e:2, s:1} gives
// e s e e s e ... so that any stretch of the fleet holds roughly the same shares.
std::vector<std::string> KindSequence(const json& mix, size_t count, const std::string& where) {
    std::vector<std::pair<std::string, int64_t>> weights;
    int64_t total = 0;
    for (const auto& item : mix.items()) {
        const auto weight =
            static_cast<int64_t>(Number(item.value(), where + "." + item.key(), 1000));
        if (weight > 0)
            weights.emplace_back(item.key(), weight);
        total += weight;
    }
    if (weights.empty())
        Fail(where, "no kind with a weight above 0");
    std::vector<int64_t> current(weights.size(), 0);
    std::vector<std::string> kinds;
    for (size_t n = 0; n < count; ++n) {
        size_t best = 0;
        for (size_t i = 0; i < weights.size(); ++i) {
            current[i] += weights[i].second;
            if (current[i] > current[best])
                best = i;
        }
        current[best] -= total;
        kinds.push_back(weights[best].first);
    }
    return kinds;
}

// The converter's serial number: its article and eight digits that differ along the fleet.
std::string Serial(const std::string& article, size_t index, uint64_t fleetSeed) {
    char digits[12];
    std::snprintf(
        digits, sizeof digits, "%08llu",
        static_cast<unsigned long long>((fleetSeed % 9000 * 10000 + index + 1) % 100000000));
    return article + digits;
}

// The gateway a converter gets when none is given: the first host of its network.
void DefaultGateway(SimSettings& s) {
    const uint32_t mask = s.prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - s.prefix);
    if (s.prefix < 31)
        s.gateway = (s.ip & mask) | 1;
}

} // namespace

bool CSimFleetLoader::Preset(const std::string& kind, size_t index, uint64_t fleetSeed,
                             SimConverterConfig* config) {
    static const char* const kExtended[] = {"731458", "762904"};
    static const char* const kStandard[] = {"738812", "469517", "762358", "469823"};
    static const char* const kOther[] = {"555123", "240017"};
    SimConverterConfig c;
    SimSettings& s = c.settings;
    const auto number = static_cast<uint32_t>(index + 1);
    s.mac = {0x02,
             0x51,
             0x00,
             static_cast<uint8_t>(number >> 16),
             static_cast<uint8_t>(number >> 8),
             static_cast<uint8_t>(number)};
    s.code = "Q" + std::to_string(index % 1000);
    s.letter = static_cast<uint8_t>('A' + index % 26);
    s.systemType = static_cast<uint8_t>(index % 3);
    if (kind == "extended") {
        s.serial = Serial(kExtended[index % 2], index, fleetSeed);
        s.marker = kMarkerExtended;
        s.firmwareVersion = 3012004; // 3.1.20.4
    } else if (kind == "standard" || kind == "legacy" || kind == "blocks" || kind == "both") {
        s.serial = Serial(kStandard[index % 4], index, fleetSeed);
        s.marker = kMarkerStandard;
        s.firmwareVersion = index % 2 == 0 ? 2011120 : 2040903; // 2.1.11.20 or 2.4.9.3
        c.style = kind == "legacy"   ? SimAnswerStyle::Config80
                  : kind == "blocks" ? SimAnswerStyle::Blocks
                  : kind == "both"   ? SimAnswerStyle::ConfigAndBlocks
                                     : SimAnswerStyle::Config88;
        if (kind == "legacy")
            s.firmwareVersion = 2000501; // 2.0.5.1
    } else if (kind == "other") {
        s.serial = Serial(kOther[index % 2], index, fleetSeed);
        s.marker = 0;
        s.firmwareVersion = 1060300; // 1.6.3.0: too old for any image
    } else {
        return false;
    }
    // SplitMix-style scrambling so that neighbouring converters get unrelated random streams.
    uint64_t seed = fleetSeed * 0x9E3779B97F4A7C15ull + number;
    seed ^= seed >> 31;
    c.seed = seed * 0xBF58476D1CE4E5B9ull;
    *config = c;
    return true;
}

namespace {

// Builds the fleet of one description: generated converters first, then the entries of
// "converters" applied over them or added behind them.
class FleetBuilder {
  public:
    explicit FleetBuilder(const json& fleet)
        : m_seed(fleet.contains("seed") ? Number(fleet["seed"], "seed", UINT64_MAX) : 1),
          m_defaults(fleet.value("defaults", json::object())) {
        CheckKeys(m_defaults, kConverterKeys, "defaults");
        m_defaultKind = m_defaults.value("kind", std::string("extended"));
        m_defaultGateway = m_defaults.contains("gateway");
    }

    void Generate(const json& g) {
        CheckKeys(g, {"count", "first", "mix"}, "generate");
        const auto count =
            static_cast<size_t>(Number(g.value("count", json(0)), "generate.count", 65000));
        const uint32_t first = Ip(g.value("first", json("198.18.1.1")), "generate.first");
        if (count > 0 && first > UINT32_MAX - (count - 1))
            Fail("generate.count", "the addresses run past 255.255.255.255");
        const auto kinds =
            KindSequence(g.value("mix", json{{m_defaultKind, 1}}), count, "generate.mix");
        for (size_t i = 0; i < count; ++i) {
            SimConverterConfig c = Build(kinds[i], i, json::object(), "generate");
            c.settings.ip = first + static_cast<uint32_t>(i);
            Append(c, m_defaultGateway);
        }
    }

    void Merge(const json& list) {
        if (!list.is_array())
            Fail("converters", "expected a list");
        for (size_t j = 0; j < list.size(); ++j) {
            const std::string where = "converters[" + std::to_string(j) + "]";
            const json& entry = list[j];
            CheckKeys(entry, kConverterKeys, where);
            if (!entry.contains("ip"))
                Fail(where, "a converter needs its \"ip\"");
            const auto it = m_byIp.find(Ip(entry["ip"], where + ".ip"));
            if (it == m_byIp.end()) {
                const std::string kind = entry.value("kind", m_defaultKind);
                Append(Build(kind, m_configs.size(), entry, where),
                       m_defaultGateway || entry.contains("gateway"));
                continue;
            }
            SimConverterConfig& c = m_configs[it->second];
            if (entry.contains("kind"))
                c = Build(Text(entry["kind"], where + ".kind", 16), it->second, json::object(),
                          where);
            ApplyConverterKeys(entry, c, where);
            m_gatewayGiven[it->second] = m_gatewayGiven[it->second] || entry.contains("gateway");
        }
    }

    std::vector<SimConverterConfig> Finish() {
        for (size_t i = 0; i < m_configs.size(); ++i)
            if (!m_gatewayGiven[i])
                DefaultGateway(m_configs[i].settings);
        return std::move(m_configs);
    }

  private:
    SimConverterConfig Build(const std::string& kind, size_t index, const json& keys,
                             const std::string& where) const {
        SimConverterConfig c;
        if (!CSimFleetLoader::Preset(kind, index, m_seed, &c))
            Fail(where + ".kind", "unknown kind " + kind);
        ApplyConverterKeys(m_defaults, c, "defaults");
        ApplyConverterKeys(keys, c, where);
        return c;
    }

    void Append(const SimConverterConfig& c, bool gatewayGiven) {
        m_byIp[c.settings.ip] = m_configs.size();
        m_configs.push_back(c);
        m_gatewayGiven.push_back(gatewayGiven);
    }

    uint64_t m_seed;
    json m_defaults;
    std::string m_defaultKind;
    bool m_defaultGateway = false;
    std::vector<SimConverterConfig> m_configs;
    std::vector<bool> m_gatewayGiven;
    std::map<uint32_t, size_t> m_byIp;
};

} // namespace

bool CSimFleetLoader::FromJson(const json& fleet, std::vector<SimConverterConfig>* out,
                               std::string* why) {
    try {
        if (NestsDeeperThan(fleet, kMaxDepth))
            Fail("fleet", "nested deeper than " + std::to_string(kMaxDepth) + " levels");
        CheckKeys(fleet, {"seed", "defaults", "generate", "converters"}, "fleet");
        FleetBuilder builder(fleet);
        if (fleet.contains("generate"))
            builder.Generate(fleet["generate"]);
        builder.Merge(fleet.value("converters", json::array()));
        *out = builder.Finish();
        return true;
    } catch (const std::exception& error) {
        *why = error.what();
        return false;
    }
}

bool CSimFleetLoader::FromFile(const std::string& path, std::vector<SimConverterConfig>* out,
                               std::string* why) {
    std::ifstream in(path);
    if (!in) {
        *why = path + ": cannot be read";
        return false;
    }
    const json fleet = json::parse(in, nullptr, false);
    if (fleet.is_discarded()) {
        *why = path + ": not valid JSON";
        return false;
    }
    if (!FromJson(fleet, out, why)) {
        *why = path + ": " + *why;
        return false;
    }
    return true;
}

} // namespace qarn::sim
