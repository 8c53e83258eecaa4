#pragma once

#include "SimConverterConfig.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace qarn::sim {

// Turns a fleet description into converter configurations. A description is a JSON object:
//
//   {
//     "seed": 7,                                      // makes delays, seeds, serials repeatable
//     "defaults": { "prefix": 16, "delay_ms": [0, 1000] },       // keys of a converter, for all
//     "generate": { "count": 1000, "first": "198.18.1.1",
//                   "mix": { "extended": 2, "standard": 1, "blocks": 1 } },
//     "converters": [ { "ip": "198.18.1.7", "misbehave": { "silent_from_block": 3 } } ]
//   }
//
// Generated converters take consecutive addresses from "first" and their kinds in the ratio of
// "mix" (interleaved: 2:1 gives e e s e e s ...). An entry of "converters" at the address of a
// generated one changes that one; any other entry adds a converter. Kinds: "extended", "standard",
// "legacy" (80-byte answers), "blocks" (block answers only), "both" (configuration and block
// answers), "other" (an article number in neither table).
//
// Converter keys: ip, kind, mac, serial, version, marker, prefix, gateway, peer, extra_ip, port1,
// port2, code, letter, system_type, option_a .. option_e, style (config88, config80, blocks, both),
// delay_ms (n or [min, max]), blocks (["D0", "D5", "F5", "F7"]), layout (auto, blocks1024,
// fixed126), version_after_update, restart_ms, seed, misbehave { silent_from_block, wrong_echo
// { block, times, then_right }, wrong_ack_length { length, block, times }, commit_ack_lost,
// config_length, answer_from, duplicates, loss_in, loss_out }. Unknown keys are errors, so that a
// typo does not pass unnoticed.
class CSimFleetLoader {
  public:
    // Deepest nesting of arrays and objects a description may have (the root object is level 1;
    // the deepest key, converters[].misbehave.wrong_echo.block, sits in level 5). A deeper one is
    // refused before anything walks it: copying or comparing JSON goes one call deeper per level,
    // and a file of a million brackets would overflow the stack.
    static constexpr size_t kMaxDepth = 32;

    static bool FromJson(const nlohmann::json& fleet, std::vector<SimConverterConfig>* out,
                         std::string* why);
    static bool FromFile(const std::string& path, std::vector<SimConverterConfig>* out,
                         std::string* why);

    // The preset of a kind for the converter at position `index` of the fleet; false for an
    // unknown kind.
    static bool Preset(const std::string& kind, size_t index, uint64_t fleetSeed,
                       SimConverterConfig* config);
};

} // namespace qarn::sim
