// The Wireshark dissector (package/wireshark/qarn-converter.lua) against traffic it has never
// seen: the test records the tool and the simulated fleet on the simulated LAN (discovery, a
// write, a transfer of each firmware layout), decodes the capture with tshark and compares every
// field tshark shows with what the simulator logged about the same datagram: the fleet's settings
// for answers, the settings it took from a write, the block numbers, sizes and image offsets of
// firmware blocks, the commit's checksum and length, and its own acknowledgements.
//
//   qarn_dissector_lan_tests --testlan scripts/testlan --ctl qarn-converter-ctl
//       --sim qarn-converter-sim --dissector qarn-converter.lua --images src/firmware/images
//
// This program runs in the machine's namespace and sends nothing itself: dumpcap and the tool run
// on the PC side ("testlan exec"), the simulator on the converters' side ("testlan lan-exec").

#include "support/TempDir.h"
#include "unit/converter-sim/SimProcess.h"

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <sys/wait.h>

#include <gtest/gtest.h>

namespace qarn::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using sim::test::EventsNamed;
using sim::test::ReadEvents;
using sim::test::SimProcess;
using sim::test::WaitForEvents;

std::string g_testlan;
std::string g_ctl;
std::string g_sim;
std::string g_dissector;
std::string g_images;

// Answers of every form (88 and 80 bytes, blocks, both), a converter to write, and one for each
// firmware layout: 3.1.20.4 takes 1024-byte blocks and a commit, 2.4.9.3 the fixed layout.
const json kFleet = json::parse(R"({
  "seed": 11, "defaults": {"delay_ms": [0, 100], "restart_ms": 500},
  "converters": [
    {"ip": "198.18.1.1", "kind": "extended"},
    {"ip": "198.18.1.2", "kind": "legacy"},
    {"ip": "198.18.1.3", "kind": "both"},
    {"ip": "198.18.1.4", "kind": "blocks"},
    {"ip": "198.18.1.5", "kind": "extended", "version": "3.1.20.4"},
    {"ip": "198.18.1.6", "kind": "standard", "version": "2.4.9.3"}
  ]})");
constexpr const char* kSam4Target = "198.18.1.5";
constexpr const char* kLtxTarget = "198.18.1.6";
const std::map<std::string, std::string> kImageOf = {{kSam4Target, "151.bin"},
                                                     {kLtxTarget, "150.bin"}};

// The fields taken from tshark, in this order, one line per datagram.
const std::vector<std::string> kFields = {"ip.src",
                                          "ip.dst",
                                          "udp.payload",
                                          "qarnconv.kind",
                                          "qarnconv.type",
                                          "qarnconv.cmd",
                                          "qarnconv.seed",
                                          "qarnconv.settings.marker",
                                          "qarnconv.settings.ip",
                                          "qarnconv.settings.gateway",
                                          "qarnconv.settings.prefix",
                                          "qarnconv.settings.netmask",
                                          "qarnconv.settings.option_a",
                                          "qarnconv.settings.extra_ip",
                                          "qarnconv.settings.mac",
                                          "qarnconv.settings.option_c",
                                          "qarnconv.settings.option_b",
                                          "qarnconv.settings.serial",
                                          "qarnconv.settings.option_d",
                                          "qarnconv.settings.peer",
                                          "qarnconv.settings.port1",
                                          "qarnconv.settings.port2",
                                          "qarnconv.settings.firmware",
                                          "qarnconv.settings.firmware_text",
                                          "qarnconv.settings.code",
                                          "qarnconv.settings.letter",
                                          "qarnconv.settings.system_type",
                                          "qarnconv.settings.option_e",
                                          "qarnconv.fw.block",
                                          "qarnconv.fw.short",
                                          "qarnconv.fw.payload_size",
                                          "qarnconv.fw.data",
                                          "qarnconv.fw.checksum",
                                          "qarnconv.fw.image_length",
                                          "qarnconv.fw.accepted",
                                          "qarnconv.blk.code",
                                          "qarnconv.blk.slot",
                                          "qarnconv.blk.serial",
                                          "qarnconv.blk.version",
                                          "qarnconv.blk.mac"};

using Decoded = std::map<std::string, std::string>; // field -> text as tshark prints it

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs argv to its end, output in files under `dir`.
ProgramRun RunProgram(const std::vector<std::string>& argv, const std::filesystem::path& dir) {
    static int runs = 0;
    const std::string out = (dir / ("out" + std::to_string(runs))).string();
    const std::string err = (dir / ("err" + std::to_string(runs++))).string();
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    ProgramRun result;
    if (posix_spawnp(&pid, args[0], &files, nullptr, args.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&files);
    result.out = ReadTextFile(out);
    result.err = ReadTextFile(err);
    return result;
}

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (access((folder + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.emplace_back();
    return parts;
}

uint64_t Number(const std::string& text) {
    return text.empty() ? ~0ull : std::stoull(text, nullptr, 0);
}

// "3.2.62.11" -> 3026211
uint64_t VersionNumber(const std::string& text) {
    const auto parts = Split(text, '.');
    return parts.size() == 4 ? std::stoull(parts[0]) * 1000000 + std::stoull(parts[1]) * 10000 +
                                   std::stoull(parts[2]) * 100 + std::stoull(parts[3])
                             : 0;
}

// 16 -> "255.255.0.0"
std::string Netmask(uint64_t prefix) {
    const uint32_t mask = prefix == 0 ? 0 : ~0u << (32 - std::min<uint64_t>(prefix, 32));
    return std::to_string(mask >> 24) + "." + std::to_string(mask >> 16 & 255) + "." +
           std::to_string(mask >> 8 & 255) + "." + std::to_string(mask & 255);
}

bool IsTrue(const std::string& text) {
    return text == "1" || text == "True" || text == "true";
}

std::string Hex(const std::vector<char>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

// What the simulator knew about one datagram on the wire.
struct Logged {
    json datagram;  // the "datagram" (received) or "sent" event
    json expected;  // sent: the converter's state when it made the answer
    json following; // received: the event it caused ("write_applied", "block", "commit")
    json cause;     // sent acknowledgements: the "block" or "commit" event they answer
};

class DissectorLanTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        for (const char* tool : {"tshark", "dumpcap"})
            if (!OnPath(tool)) {
                s_skip = std::string(tool) + " is missing: scripts/bootstrap installs it";
                return;
            }
        if (g_testlan.empty() || g_ctl.empty() || g_sim.empty() || g_dissector.empty() ||
            g_images.empty()) {
            s_failure = "--testlan, --ctl, --sim, --dissector and --images are needed";
            return;
        }
        s_temp = std::make_unique<TempDir>("qarn-dissector");
        Record();
        if (s_failure.empty())
            Decode();
        if (s_failure.empty())
            IndexLog();
    }
    static void TearDownTestSuite() {
        // QARN_KEEP_CAPTURE=1 keeps them after a good run too, for a look with Wireshark.
        const bool failed =
            !s_failure.empty() || ::testing::UnitTest::GetInstance()->failed_test_count() > 0;
        if (s_temp && (failed || std::getenv("QARN_KEEP_CAPTURE") != nullptr)) {
            std::cout << "capture, decode and simulator log kept in " << s_temp->Path() << "\n";
            s_temp.release();
        }
        s_temp.reset();
    }
    void SetUp() override {
        if (!s_skip.empty())
            GTEST_SKIP() << s_skip;
        ASSERT_TRUE(s_failure.empty()) << s_failure;
    }

    static std::filesystem::path Dir() { return s_temp->Path(); }

    static bool Step(const std::vector<std::string>& argv, const char* what) {
        const ProgramRun run = RunProgram(argv, Dir());
        if (run.status != 0 && s_failure.empty())
            s_failure = std::string(what) + " failed (" + std::to_string(run.status) +
                        "): " + run.out + run.err;
        return run.status == 0;
    }
    static bool Tool(std::vector<std::string> args, const char* what) {
        args.insert(args.begin(), {g_testlan, "exec", g_ctl});
        return Step(args, what);
    }

    static void Record() {
        if (!Step({g_testlan, "up", "--converters", "6"}, "testlan up"))
            return;
        const std::string fleet = (Dir() / "fleet.json").string();
        std::ofstream(fleet) << kFleet.dump(2);
        const ProgramRun printed = RunProgram({g_sim, "--config", fleet, "--print-fleet"}, Dir());
        s_fleet = json::parse(printed.out, nullptr, false);
        if (printed.status != 0 || !s_fleet.is_array()) {
            s_failure = "--print-fleet: " + printed.err;
            return;
        }
        SimProcess sim;
        if (!sim.Start({g_testlan, "lan-exec", g_sim, "--config", fleet, "--address-control", "ip",
                        "--log", Log()})) {
            s_failure = "cannot start the simulator";
            return;
        }
        const auto ready = WaitForEvents(
            Log(), 20s, [](const auto& e) { return !EventsNamed(e, "ready").empty(); });
        if (EventsNamed(ready, "ready").empty()) {
            s_failure = "the simulator did not start";
            return;
        }
        const char* name = std::getenv("QARN_TESTLAN_NAME");
        const std::string vpc =
            std::string(name != nullptr && *name != '\0' ? name : "qarn") + "-vpc";
        const std::string dumpcapErr = (Dir() / "dumpcap.err").string();
        SimProcess dumpcap;
        if (!dumpcap.Start({"/bin/sh", "-c",
                            "exec \"$0\" exec dumpcap -i \"$1\" -f \"$2\" -w \"$3\" 2>\"$4\"",
                            g_testlan, vpc, "udp port 58009", Capture(), dumpcapErr})) {
            s_failure = "cannot start dumpcap";
            return;
        }
        for (int i = 0;
             i < 500 && ReadTextFile(dumpcapErr).find("Capturing on") == std::string::npos; ++i)
            std::this_thread::sleep_for(10ms);

        if (Tool({"discover", "--time", "5"}, "discover") &&
            Tool({"write", "198.18.1.1", "--port1", "5000", "--letter", "Q", "--system-type",
                  "tesk", "--peer", "198.18.0.1"},
                 "write") &&
            Tool({"flash", kSam4Target, "--allow-placeholder-images", "--no-wait-restart"},
                 "flash with 1024-byte blocks"))
            Tool({"flash", kLtxTarget, "--allow-placeholder-images", "--no-wait-restart"},
                 "flash in the fixed layout");
        // The last answers still on the way.
        std::this_thread::sleep_for(500ms);
        dumpcap.Signal(SIGINT);
        if (dumpcap.Wait(10s) != 0 && s_failure.empty())
            s_failure = "dumpcap: " + ReadTextFile(dumpcapErr);
        sim.Signal(SIGTERM);
        sim.Wait(5s);
        Step({g_testlan, "down"}, "testlan down");
    }

    static void Decode() {
        std::vector<std::string> argv = {
            "tshark", "-n",          "-r", Capture(), "-X", "lua_script:" + g_dissector,
            "-Y",     "qarnconv",    "-T", "fields",  "-E", "separator=/t",
            "-E",     "occurrence=f"};
        for (const std::string& field : kFields) {
            argv.push_back("-e");
            argv.push_back(field);
        }
        const ProgramRun run = RunProgram(argv, Dir());
        if (run.status != 0) {
            s_failure = "tshark: " + run.err;
            return;
        }
        std::ofstream(Dir() / "decoded.tsv") << run.out;
        for (const std::string& line : Split(run.out, '\n')) {
            if (line.empty())
                continue;
            const auto values = Split(line, '\t');
            Decoded decoded;
            for (size_t i = 0; i < kFields.size(); ++i)
                decoded[kFields[i]] = i < values.size() ? values[i] : "";
            s_decoded.push_back(std::move(decoded));
        }
    }

    // Replays the log: each converter's state as it changes, and for every datagram what the
    // simulator logged about it, by its bytes.
    static void IndexLog() {
        std::map<std::string, json> state;
        std::map<std::string, json> answering;
        for (const json& converter : s_fleet)
            state[converter["ip"]] = converter;
        const std::vector<json> events = ReadEvents(Log());
        Logged* lastReceived = nullptr;
        json lastFirmwareEvent;
        for (const json& event : events) {
            const std::string kind = event.value("event", "");
            if (kind == "datagram") {
                Logged& entry = s_log[event["hex"]];
                entry.datagram = event;
                lastReceived = &entry;
            } else if (kind == "answered") {
                // An answer carries the settings of the moment it was made, which may be before a
                // write that the converter takes while the answer waits for its delay.
                answering[event["conv"]] = state[event["conv"]];
            } else if (kind == "sent") {
                Logged& entry = s_log[event["hex"]];
                entry.datagram = event;
                entry.expected = answering[event["conv"]];
                entry.cause = lastFirmwareEvent;
            } else if (kind == "write_applied" || kind == "block" || kind == "commit") {
                if (lastReceived != nullptr && lastReceived->following.is_null())
                    lastReceived->following = event;
                if (kind != "write_applied")
                    lastFirmwareEvent = event;
                if (kind == "write_applied")
                    for (const auto& [key, value] : event["fields"].items())
                        state[event["conv"]][key] = value;
            } else if (kind == "address_moved") {
                state[event["to"]] = state[event["from"]];
                state[event["to"]]["ip"] = event["to"];
            } else if (kind == "restart_end") {
                json& converter = state[event["conv"]];
                converter["version"] = event["version"];
                converter["version_number"] = VersionNumber(event["version"]);
            }
        }
    }

    // The decoded datagrams of one kind, each with what the simulator logged about it.
    static std::vector<std::pair<Decoded, Logged>> OfKind(const std::string& kind) {
        std::vector<std::pair<Decoded, Logged>> found;
        for (const Decoded& decoded : s_decoded) {
            if (decoded.at("qarnconv.kind") != kind)
                continue;
            const auto logged = s_log.find(decoded.at("udp.payload"));
            EXPECT_NE(logged, s_log.end())
                << kind << " the simulator did not log: " << decoded.at("udp.payload");
            if (logged != s_log.end())
                found.emplace_back(decoded, logged->second);
        }
        return found;
    }

    static std::string Log() { return (Dir() / "sim.jsonl").string(); }
    static std::string Capture() { return (Dir() / "capture.pcapng").string(); }

    static inline std::unique_ptr<TempDir> s_temp;
    static inline std::string s_skip;
    static inline std::string s_failure;
    static inline json s_fleet;
    static inline std::vector<Decoded> s_decoded;
    static inline std::map<std::string, Logged> s_log;
};

TEST_F(DissectorLanTest, EveryDatagramOfTheRunIsDecoded) {
    size_t logged = 0;
    for (const auto& [hex, entry] : s_log)
        logged += entry.datagram.is_null() ? 0 : 1;
    std::map<std::string, size_t> kinds;
    for (const Decoded& decoded : s_decoded) {
        EXPECT_FALSE(decoded.at("qarnconv.kind").empty()) << decoded.at("udp.payload");
        EXPECT_NE(decoded.at("qarnconv.kind"), "Unknown command") << decoded.at("udp.payload");
        ++kinds[decoded.at("qarnconv.kind")];
    }
    // Identical datagrams (block answers, discovery requests within one second) count once there.
    EXPECT_GE(s_decoded.size(), logged);
    for (const char* kind :
         {"Discovery request", "Configuration answer", "Block answer", "Configuration write",
          "Firmware block", "Firmware block answer", "Firmware commit", "Firmware commit answer"})
        EXPECT_GT(kinds[kind], 0u) << kind << " missing from the capture";
}

TEST_F(DissectorLanTest, DiscoveryRequestsShowTheirHeader) {
    const auto requests = OfKind("Discovery request");
    ASSERT_FALSE(requests.empty());
    for (const auto& [decoded, logged] : requests) {
        const std::string hex = logged.datagram["hex"];
        EXPECT_EQ(logged.datagram["len"], 16);
        EXPECT_EQ(decoded.at("qarnconv.type"), "1");
        EXPECT_EQ(Number(decoded.at("qarnconv.cmd")), 0x1Au);
        // dwSeed, little-endian at offset 12.
        const std::string seed =
            hex.substr(30, 2) + hex.substr(28, 2) + hex.substr(26, 2) + hex.substr(24, 2);
        EXPECT_EQ(Number(decoded.at("qarnconv.seed")), std::stoull(seed, nullptr, 16));
    }
}

// Both answer lengths, unscrambled with each answer's own seed, against the converter's state.
TEST_F(DissectorLanTest, ConfigurationAnswersShowTheConvertersSettings) {
    const auto answers = OfKind("Configuration answer");
    ASSERT_FALSE(answers.empty());
    std::map<size_t, size_t> lengths;
    for (const auto& [decoded, logged] : answers) {
        const json& s = logged.expected;
        SCOPED_TRACE(s.value("ip", "?") + " " + decoded.at("udp.payload"));
        ASSERT_TRUE(s.is_object());
        const size_t length = logged.datagram["len"];
        ++lengths[length];
        EXPECT_EQ(decoded.at("ip.src"), s["ip"]);
        EXPECT_EQ(Number(decoded.at("qarnconv.settings.marker")),
                  std::stoull(s["marker"].get<std::string>(), nullptr, 16));
        for (const char* key : {"ip", "gateway", "extra_ip", "peer", "mac", "serial"})
            EXPECT_EQ(decoded.at(std::string("qarnconv.settings.") + key), s[key]) << key;
        for (const char* key :
             {"prefix", "option_a", "option_b", "option_c", "option_d", "port1", "port2"})
            EXPECT_EQ(Number(decoded.at(std::string("qarnconv.settings.") + key)),
                      s[key].get<uint64_t>())
                << key;
        EXPECT_EQ(decoded.at("qarnconv.settings.netmask"), Netmask(s["prefix"]));
        EXPECT_EQ(Number(decoded.at("qarnconv.settings.firmware")), s["version_number"]);
        EXPECT_EQ(decoded.at("qarnconv.settings.firmware_text"), s["version"]);
        if (length == 88) {
            EXPECT_EQ(decoded.at("qarnconv.settings.code"), s["code"]);
            for (const char* key : {"letter", "system_type", "option_e"})
                EXPECT_EQ(Number(decoded.at(std::string("qarnconv.settings.") + key)),
                          s[key].get<uint64_t>())
                    << key;
        } else {
            EXPECT_EQ(decoded.at("qarnconv.settings.code"), "") << "the 80-byte form has none";
            EXPECT_EQ(decoded.at("qarnconv.settings.letter"), "");
        }
    }
    EXPECT_GT(lengths[88], 0u);
    EXPECT_GT(lengths[80], 0u);
}

TEST_F(DissectorLanTest, BlockAnswersShowSerialVersionAndMac) {
    const auto answers = OfKind("Block answer");
    ASSERT_FALSE(answers.empty());
    std::map<std::string, size_t> slots;
    for (const auto& [decoded, logged] : answers) {
        const json& s = logged.expected;
        SCOPED_TRACE(s.value("ip", "?") + " " + decoded.at("udp.payload").substr(0, 8));
        const std::string slot = decoded.at("qarnconv.blk.slot");
        ++slots[slot];
        EXPECT_EQ(Number(decoded.at("qarnconv.blk.code")),
                  std::stoull(decoded.at("udp.payload").substr(6, 2), nullptr, 16));
        if (slot == "5") {
            EXPECT_EQ(decoded.at("qarnconv.blk.serial"), s["serial"]);
        } else if (slot == "16") {
            EXPECT_EQ(decoded.at("qarnconv.blk.version"), s["version"]);
        } else if (slot == "17") {
            EXPECT_EQ(decoded.at("qarnconv.blk.mac"), s["mac"]);
        }
    }
    for (const char* slot : {"0", "5", "16", "17"})
        EXPECT_GT(slots[slot], 0u) << "slot " << slot;
}

// The write is decoded the way the converter read it.
TEST_F(DissectorLanTest, ConfigurationWriteShowsWhatTheConverterApplied) {
    const auto writes = OfKind("Configuration write");
    ASSERT_EQ(writes.size(), 1u);
    const auto& [decoded, logged] = writes[0];
    const json& applied = logged.following;
    ASSERT_EQ(applied.value("event", ""), "write_applied") << applied.dump();
    const json& fields = applied["fields"];
    EXPECT_EQ(decoded.at("ip.dst"), "198.18.1.1");
    for (const char* key : {"ip", "gateway", "extra_ip", "peer", "code"})
        EXPECT_EQ(decoded.at(std::string("qarnconv.settings.") + key), fields[key]) << key;
    for (const char* key : {"prefix", "option_a", "option_b", "option_d", "port1", "port2",
                            "letter", "system_type", "option_e"})
        EXPECT_EQ(Number(decoded.at(std::string("qarnconv.settings.") + key)),
                  fields[key].get<uint64_t>())
            << key;
    EXPECT_EQ(Number(decoded.at("qarnconv.settings.marker")), applied["kept"]["marker"]);
    EXPECT_EQ(decoded.at("qarnconv.settings.mac"), applied["kept"]["mac"]);
    EXPECT_EQ(decoded.at("qarnconv.settings.serial"), applied["kept"]["serial"]);
    // What the command asked for, to be sure the comparison is not between two empty fields.
    EXPECT_EQ(decoded.at("qarnconv.settings.port1"), "5000");
    EXPECT_EQ(decoded.at("qarnconv.settings.letter"), std::to_string('Q'));
    EXPECT_EQ(decoded.at("qarnconv.settings.system_type"), "1");
    EXPECT_EQ(decoded.at("qarnconv.settings.peer"), "198.18.0.1");
}

// Block numbers, sizes and the unscrambled data of both layouts against the converter's view and
// the image it was sent.
TEST_F(DissectorLanTest, FirmwareBlocksShowNumberSizeAndImageData) {
    const auto blocks = OfKind("Firmware block");
    std::map<std::string, std::vector<char>> images;
    for (const auto& [ip, file] : kImageOf) {
        std::ifstream in(std::filesystem::path(g_images) / file, std::ios::binary);
        images[ip].assign(std::istreambuf_iterator<char>(in), {});
        ASSERT_FALSE(images[ip].empty()) << file;
    }
    std::map<std::string, size_t> perTarget;
    std::map<std::string, size_t> shortBlocks;
    for (const auto& [decoded, logged] : blocks) {
        const std::string target = decoded.at("ip.dst");
        const json& block = logged.following;
        SCOPED_TRACE(target + " block " + decoded.at("qarnconv.fw.block"));
        ASSERT_EQ(block.value("event", ""), "block") << block.dump();
        ASSERT_TRUE(block.value("accepted", false)) << block.dump();
        ++perTarget[target];
        EXPECT_EQ(Number(decoded.at("qarnconv.fw.block")), block["block"].get<uint64_t>());
        EXPECT_EQ(IsTrue(decoded.at("qarnconv.fw.short")), block["short_flag"].get<bool>());
        shortBlocks[target] += block["short_flag"].get<bool>() ? 1 : 0;
        EXPECT_EQ(Number(decoded.at("qarnconv.fw.payload_size")), block["len"].get<uint64_t>());
        const size_t offset = block["offset"];
        const size_t size = block["len"];
        const std::vector<char>& image = images.at(target);
        ASSERT_LE(offset + size, image.size());
        std::string data = decoded.at("qarnconv.fw.data");
        data.erase(std::remove(data.begin(), data.end(), ':'), data.end());
        EXPECT_EQ(data, Hex({image.begin() + static_cast<std::ptrdiff_t>(offset),
                             image.begin() + static_cast<std::ptrdiff_t>(offset + size)}));
    }
    EXPECT_EQ(perTarget[kSam4Target], 146u) << "148972 bytes in 1024-byte blocks";
    EXPECT_EQ(shortBlocks[kSam4Target], 1u);
    EXPECT_EQ(perTarget[kLtxTarget], 126u) << "the fixed layout";
    EXPECT_EQ(shortBlocks[kLtxTarget], 2u);
}

TEST_F(DissectorLanTest, FirmwareCommitShowsChecksumAndLength) {
    const auto commits = OfKind("Firmware commit");
    ASSERT_EQ(commits.size(), 1u);
    const auto& [decoded, logged] = commits[0];
    const json& commit = logged.following;
    ASSERT_EQ(commit.value("event", ""), "commit") << commit.dump();
    EXPECT_TRUE(commit.value("ok", false));
    EXPECT_EQ(decoded.at("ip.dst"), kSam4Target);
    EXPECT_EQ(Number(decoded.at("qarnconv.fw.checksum")),
              std::stoull(commit["checksum"].get<std::string>(), nullptr, 16));
    EXPECT_EQ(Number(decoded.at("qarnconv.fw.image_length")), commit["length"].get<uint64_t>());
    EXPECT_EQ(commit["length"], 148972);
}

TEST_F(DissectorLanTest, ConvertersAcknowledgementsShowBlockAndVerdict) {
    const auto blockAnswers = OfKind("Firmware block answer");
    EXPECT_EQ(blockAnswers.size(), 146u + 126u);
    for (const auto& [decoded, logged] : blockAnswers) {
        SCOPED_TRACE(decoded.at("udp.payload"));
        ASSERT_EQ(logged.cause.value("event", ""), "block") << logged.cause.dump();
        EXPECT_EQ(Number(decoded.at("qarnconv.fw.block")), logged.cause["block"].get<uint64_t>());
        EXPECT_EQ(IsTrue(decoded.at("qarnconv.fw.accepted")), logged.cause["accepted"]);
    }
    const auto commitAnswers = OfKind("Firmware commit answer");
    ASSERT_EQ(commitAnswers.size(), 1u);
    ASSERT_EQ(commitAnswers[0].second.cause.value("event", ""), "commit");
    EXPECT_EQ(IsTrue(commitAnswers[0].first.at("qarnconv.fw.accepted")),
              commitAnswers[0].second.cause["ok"]);
}

// ---- input the dissector must survive ---------------------------------------------------------

void PutLe32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>(value >> (8 * i) & 0xFF);
}

void PutBe16(std::string& out, uint32_t value) {
    out += static_cast<char>(value >> 8 & 0xFF);
    out += static_cast<char>(value & 0xFF);
}

// One Ethernet frame with an IPv4/UDP datagram from 198.18.0.1:58009 to 198.18.1.1:58009.
std::string Frame(const std::string& payload, bool fromTool) {
    std::string frame(6, '\xff');
    frame += std::string("\x02\x00\x00\x00\x00\x01\x08\x00", 8);
    std::string ip = std::string("\x45\x00", 2);
    PutBe16(ip, static_cast<uint32_t>(28 + payload.size()));
    ip += std::string("\x00\x00\x00\x00\x40\x11\x00\x00", 8); // no checksum: not verified
    const std::string tool("\xc6\x12\x00\x01", 4);
    const std::string converter("\xc6\x12\x01\x01", 4);
    ip += fromTool ? tool + converter : converter + tool;
    std::string udp;
    PutBe16(udp, 58009);
    PutBe16(udp, 58009);
    PutBe16(udp, static_cast<uint32_t>(8 + payload.size()));
    PutBe16(udp, 0);
    return frame + ip + udp + payload;
}

// Every combination of the header's type and command with lengths around each boundary the
// dissector knows, filled with repeatable random bytes, in both directions. Configuration
// datagrams come first, before any discovery request tells the tool's address.
TEST(DissectorInputTest, MalformedDatagramsAreShownWithoutAScriptError) {
    if (!OnPath("tshark"))
        GTEST_SKIP() << "tshark is missing: scripts/bootstrap installs it";
    ASSERT_FALSE(g_dissector.empty()) << "--dissector is needed";
    TempDir dir("qarn-dissector-input");
    std::string pcap;
    PutLe32(pcap, 0xA1B2C3D4);
    pcap += std::string("\x02\x00\x04\x00", 4);
    PutLe32(pcap, 0);
    PutLe32(pcap, 0);
    PutLe32(pcap, 65535);
    PutLe32(pcap, 1); // Ethernet
    std::mt19937 random(7);
    size_t frames = 0;
    size_t shown = 0;
    for (const int type : {0, 1, 2, 3})
        for (const int cmd : {0x1B, 0x1C, 0x1E, 0x26, 0x1A, 0x00, 0xFF})
            for (const size_t length : {1,  3,  4,  5,  15, 16,  17,  27,  56,   72,  79,
                                        80, 81, 87, 88, 89, 119, 120, 200, 1072, 1100})
                for (const bool fromTool : {true, false}) {
                    std::string payload(length, '\0');
                    for (char& c : payload)
                        c = static_cast<char>(random() & 0xFF);
                    payload[0] = static_cast<char>(type);
                    if (length > 1)
                        payload[1] = static_cast<char>(cmd);
                    const std::string frame = Frame(payload, fromTool);
                    shown += length >= 4 ? 1 : 0; // shorter ones are left to Wireshark
                    PutLe32(pcap, static_cast<uint32_t>(1000 + frames++));
                    PutLe32(pcap, 0);
                    PutLe32(pcap, static_cast<uint32_t>(frame.size()));
                    PutLe32(pcap, static_cast<uint32_t>(frame.size()));
                    pcap += frame;
                }
    const std::string capture = (dir / "input.pcap").string();
    std::ofstream(capture, std::ios::binary) << pcap;

    const ProgramRun run = RunProgram(
        {"tshark", "-n", "-r", capture, "-X", "lua_script:" + g_dissector, "-V"}, dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find("Lua Error"), std::string::npos) << run.out.substr(
        run.out.find("Lua Error") - std::min<size_t>(2000, run.out.find("Lua Error")), 3000);
    size_t decoded = 0;
    for (size_t at = run.out.find("\nQarn LAN converter"); at != std::string::npos;
         at = run.out.find("\nQarn LAN converter", at + 1))
        ++decoded;
    EXPECT_EQ(decoded, shown) << "every datagram of 4 bytes or more is shown as the protocol";
}

} // namespace
} // namespace qarn::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string option = argv[i];
        std::string* target = option == "--testlan"     ? &qarn::test::g_testlan
                              : option == "--ctl"       ? &qarn::test::g_ctl
                              : option == "--sim"       ? &qarn::test::g_sim
                              : option == "--dissector" ? &qarn::test::g_dissector
                              : option == "--images"    ? &qarn::test::g_images
                                                        : nullptr;
        if (target != nullptr)
            *target = argv[i + 1];
    }
    return RUN_ALL_TESTS();
}
