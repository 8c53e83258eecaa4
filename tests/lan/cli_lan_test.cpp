// qarn-converter-ctl against the simulator on the simulated LAN. This program runs in the machine's
// own namespace and sends nothing itself: the tool runs on the PC side ("testlan exec"), the
// simulator on the converters' side ("testlan lan-exec"), and the test reads what the tool printed
// and what the simulator logged.
//
//   qarn_cli_lan_tests --testlan scripts/testlan --ctl qarn-converter-ctl --sim qarn-converter-sim
//
// Every test starts from "testlan up --converters 12" on the LAN named by QARN_TESTLAN_NAME.

#include "protocol/Articles.h"
#include "support/TempDir.h"
#include "unit/converter-sim/SimProcess.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <spawn.h>
#include <sstream>

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

constexpr const char* kToolSource = "198.18.0.1:58009";

// Twelve converters of every kind on 198.18.1.1 .. 198.18.1.12, answering within 300 ms.
const json kFleet = json::parse(R"({
  "seed": 3, "defaults": {"delay_ms": [0, 300]},
  "converters": [
    {"ip": "198.18.1.1", "kind": "extended"}, {"ip": "198.18.1.2", "kind": "standard"},
    {"ip": "198.18.1.3", "kind": "blocks"},   {"ip": "198.18.1.4", "kind": "extended"},
    {"ip": "198.18.1.5", "kind": "extended"}, {"ip": "198.18.1.6", "kind": "legacy"},
    {"ip": "198.18.1.7", "kind": "extended"}, {"ip": "198.18.1.8", "kind": "extended"},
    {"ip": "198.18.1.9", "kind": "extended"}, {"ip": "198.18.1.10", "kind": "both"},
    {"ip": "198.18.1.11", "kind": "other"},   {"ip": "198.18.1.12", "kind": "standard"}
  ]})");

struct Output {
    int status = -1;
    std::string out;
    std::string err;
};

class CliLanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(g_testlan.empty() || g_ctl.empty() || g_sim.empty())
            << "--testlan, --ctl and --sim are needed";
        Testlan({"up", "--converters", "12"});
    }
    void TearDown() override {
        if (m_sim.Signal(SIGTERM))
            m_sim.Wait(5s);
        if (HasFailure()) {
            std::cout << "tool output and simulator log kept in " << Dir() << "\n";
            m_temp.release(); // the folder stays for a look
        }
    }

    // Runs argv to its end with its output in files; status 128+n for a signal.
    Output Run(const std::vector<std::string>& argv) {
        const std::string out = (Dir() / ("out" + std::to_string(m_runs))).string();
        const std::string err = (Dir() / ("err" + std::to_string(m_runs++))).string();
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<char*> args;
        for (const auto& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        pid_t pid = -1;
        Output result;
        if (posix_spawn(&pid, args[0], &files, nullptr, args.data(), environ) == 0) {
            int status = 0;
            waitpid(pid, &status, 0);
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        posix_spawn_file_actions_destroy(&files);
        result.out = qarn::test::ReadTextFile(out);
        result.err = qarn::test::ReadTextFile(err);
        return result;
    }

    void Testlan(std::vector<std::string> args) {
        args.insert(args.begin(), g_testlan);
        const Output run = Run(args);
        ASSERT_EQ(run.status, 0) << args[1] << ": " << run.err;
    }

    // The tool on the PC side.
    Output Ctl(std::vector<std::string> args) {
        args.insert(args.begin(), {g_testlan, "exec", g_ctl});
        return Run(args);
    }

    std::string WriteFile(const std::string& name, const json& content) {
        const std::string path = (Dir() / name).string();
        std::ofstream(path) << content.dump(2);
        return path;
    }

    // Starts the simulator with `fleet`; moved converters take their new address for real.
    void StartSim(const json& fleet, std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {
            g_testlan,           "lan-exec", g_sim,   "--config", WriteFile("fleet.json", fleet),
            "--address-control", "ip",       "--log", m_log};
        argv.insert(argv.end(), extra.begin(), extra.end());
        // The "ready" line of an earlier simulator in this test must not count for this one.
        std::filesystem::remove(m_log);
        ASSERT_TRUE(m_sim.Start(argv));
        const auto events = WaitForEvents(
            m_log, 20s, [](const auto& e) { return !EventsNamed(e, "ready").empty(); });
        ASSERT_FALSE(EventsNamed(events, "ready").empty()) << "the simulator did not start";
    }

    // The fleet as the simulator makes it, without starting it.
    json PrintFleet(const json& fleet) {
        const Output run =
            Run({g_sim, "--config", WriteFile("print.json", fleet), "--print-fleet"});
        EXPECT_EQ(run.status, 0) << run.err;
        return json::parse(run.out);
    }

    // Configuration writes the simulator received from the tool: "011b..." or "011c...".
    std::vector<json> ToolWrites() {
        std::vector<json> writes;
        for (const json& event : EventsNamed(ReadEvents(m_log), "datagram")) {
            const std::string hex = event.value("hex", "");
            if (event.value("src", "") == kToolSource &&
                (hex.rfind("011b", 0) == 0 || hex.rfind("011c", 0) == 0))
                writes.push_back(event);
        }
        return writes;
    }

    // The list as `discover --json` prints it after `seconds`, by address.
    std::map<std::string, json> Discover(const std::string& seconds) {
        const Output run = Ctl({"discover", "--json", "--time", seconds});
        EXPECT_EQ(run.status, 0) << run.err;
        std::map<std::string, json> rows;
        for (const json& row : json::parse(run.out, nullptr, false))
            rows[row.value("ip", "")] = row;
        return rows;
    }

    const std::filesystem::path& Dir() { return m_temp->Path(); }

    std::unique_ptr<TempDir> m_temp = std::make_unique<TempDir>("qarn-cli-lan");
    std::string m_log = (m_temp->Path() / "sim.jsonl").string();
    SimProcess m_sim;
    int m_runs = 0;
};

// What discover must print for one converter of the simulator's fleet.
json ExpectedRow(const json& converter, const std::string& kind, bool deaf) {
    const bool blocksOnly = kind == "blocks";
    const bool longAnswer = !blocksOnly && kind != "legacy";
    const std::string serial = converter["serial"];
    const bool extended =
        blocksOnly ? IsExtendedArticle(serial) : converter["marker"] == "0x12131417";
    static const char* kTypes[] = {"rilo", "tesk", "vardo"};
    const int type = converter["system_type"];
    json row = {
        {"ip", converter["ip"]},
        {"mac", converter["mac"]},
        {"serial", serial},
        {"firmware", converter["version"]},
        {"firmware_number", blocksOnly ? 0 : converter["version_number"].get<int>()},
        {"kind", extended ? "extended" : "standard"},
        {"reachable", !deaf},
        {"complete", true},
        {"reported_ip", blocksOnly ? "0.0.0.0" : converter["ip"].get<std::string>()},
        {"netmask", blocksOnly ? "0.0.0.0" : "255.255.0.0"},
        {"gateway", blocksOnly ? "0.0.0.0" : converter["gateway"].get<std::string>()},
        {"peer", converter["peer"]},
        {"port1", blocksOnly ? 0 : converter["port1"].get<int>()},
        {"port2", blocksOnly ? 0 : converter["port2"].get<int>()},
        {"letter",
         longAnswer ? std::string(1, static_cast<char>(converter["letter"].get<int>())) : ""},
        {"system_type", longAnswer ? kTypes[type] : "rilo"},
        {"code", longAnswer ? converter["code"].get<std::string>() : ""},
    };
    return row;
}

TEST_F(CliLanTest, ListsEveryConverterWithItsFieldsAndColours) {
    Testlan({"deaf", "198.18.1.7"});
    const json fleet = PrintFleet(kFleet);
    ASSERT_EQ(fleet.size(), 12u);
    StartSim(kFleet);

    const auto rows = Discover("5");
    ASSERT_EQ(rows.size(), 12u);
    for (size_t i = 0; i < fleet.size(); ++i) {
        const json& converter = fleet[i];
        const std::string ip = converter["ip"];
        SCOPED_TRACE(ip);
        ASSERT_EQ(rows.count(ip), 1u);
        EXPECT_EQ(rows.at(ip),
                  ExpectedRow(converter, kFleet["converters"][i]["kind"], ip == "198.18.1.7"));
    }

    // show waits for the one converter and prints the same record.
    const Output shown = Ctl({"show", "02-51-00-00-00-04", "--json"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(json::parse(shown.out), rows.at("198.18.1.4"));
    const Output table = Ctl({"discover", "--time", "2"});
    EXPECT_NE(table.out.find("198.18.1.7   02 51 00 00 00 07  731458-0003-0007"), std::string::npos)
        << table.out;
    const Output missing = Ctl({"show", "198.18.1.99", "--time", "2"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "qarn-converter-ctl: no converter 198.18.1.99 answered within 2 s\n");
}

TEST_F(CliLanTest, InterfaceChoiceSendsToItsDirectedBroadcastOnly) {
    const char* name = std::getenv("QARN_TESTLAN_NAME");
    const std::string vpc = std::string(name != nullptr && *name != '\0' ? name : "qarn") + "-vpc";
    StartSim(kFleet);
    const Output run = Ctl({"discover", "--json", "--time", "2", "--interface", vpc});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(json::parse(run.out).size(), 12u) << run.out;
    size_t requests = 0;
    for (const json& event : EventsNamed(ReadEvents(m_log), "datagram")) {
        if (event.value("src", "") != kToolSource)
            continue;
        ++requests;
        EXPECT_EQ(event["dst"], "198.18.255.255") << event.dump();
    }
    EXPECT_GE(requests, 1u);
}

TEST_F(CliLanTest, ConverterAtANewAddressPushesOutItsOldRow) {
    Testlan({"add-address", "198.18.9.2"});
    const json before = json::parse(R"({"converters": [
        {"ip": "198.18.1.1", "kind": "extended"}, {"ip": "198.18.1.2", "kind": "extended"}]})");
    const json moved = PrintFleet(before)[1];
    json after = before;
    after["converters"][1] = {{"ip", "198.18.9.2"},
                              {"kind", "extended"},
                              {"mac", moved["mac"]},
                              {"serial", moved["serial"]}};
    StartSim(before, {"--duration-s", "4"});

    // One discovery run sees the converter at its old address, then (after the requests at 8 and
    // 12 s) at its new one; its old row would only age out after 20 s. Two requests after the
    // swap leave room for a late start of either process on a busy machine.
    SimProcess discover;
    const std::string out = (Dir() / "discover.json").string();
    ASSERT_TRUE(discover.Start({"/bin/sh", "-c",
                                "exec \"$0\" exec \"$1\" discover --json --time 14 >\"$2\"",
                                g_testlan, g_ctl, out}));
    EXPECT_EQ(m_sim.Wait(15s), 0);
    StartSim(after);
    ASSERT_EQ(discover.Wait(20s), 0);

    std::set<std::string> addresses;
    for (const json& row : json::parse(qarn::test::ReadTextFile(out)))
        addresses.insert(row["ip"].get<std::string>() + " " + row["mac"].get<std::string>());
    EXPECT_EQ(addresses, (std::set<std::string>{"198.18.1.1 02:51:00:00:00:01",
                                                "198.18.9.2 " + moved["mac"].get<std::string>()}));
}

TEST_F(CliLanTest, RowsAgeOutAfterTheFleetStops) {
    StartSim(kFleet, {"--duration-s", "2"});
    EXPECT_EQ(Discover("26"), (std::map<std::string, json>{}));
    EXPECT_FALSE(EventsNamed(ReadEvents(m_log), "answered").empty())
        << "the converters answered before they stopped";
}

TEST_F(CliLanTest, WritesByUnicastAndSeesTheNewSettings) {
    StartSim(kFleet);
    const Output run = Ctl({"write", "198.18.1.1", "--port1", "58009", "--letter", "Q",
                            "--system-type", "tesk", "--peer", "198.18.0.1"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "--port1 58009 corrected to 58018\n"
                       "sent to 198.18.1.1\n"
                       "confirmed: 02:51:00:00:00:01 answers from 198.18.1.1 with the new "
                       "settings\n");
    const auto writes = ToolWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0]["dst"], "198.18.1.1");
    const auto applied = EventsNamed(ReadEvents(m_log), "write_applied");
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0]["fields"]["port1"], 58018);
    EXPECT_EQ(applied[0]["fields"]["letter"], 'Q');
    EXPECT_EQ(applied[0]["fields"]["system_type"], 1);
    EXPECT_EQ(applied[0]["fields"]["peer"], "198.18.0.1");
}

TEST_F(CliLanTest, WritesByBroadcastToAConverterDeafToEcho) {
    Testlan({"deaf", "198.18.1.7"});
    StartSim(kFleet);
    // Unreachable, it offers only its address settings.
    const Output run = Ctl({"write", "198.18.1.7", "--gateway", "198.18.0.254"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("sent by broadcast (no echo reply from it)\n"), std::string::npos);
    const auto writes = ToolWrites();
    ASSERT_GE(writes.size(), 1u);
    for (const json& write : writes)
        EXPECT_NE(write["dst"], "198.18.1.7") << "never unicast to a converter deaf to echo";
    EXPECT_EQ(writes[0]["dst"], "255.255.255.255");
}

TEST_F(CliLanTest, WritesAnUnlistedConverterByItsMacAddress) {
    // Its answers never reach the tool while it sits at 198.18.1.8.
    Testlan({"loss", "--percent", "100", "--dir", "out", "--address", "198.18.1.8"});
    StartSim(kFleet);
    const Output run = Ctl({"write", "0251.0000.0008", "--ip", "198.18.9.10", "--netmask",
                            "255.255.0.0", "--gateway", "198.18.0.1"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "sent by broadcast (written by MAC address)\n"
                       "confirmed: 02:51:00:00:00:08 answers from 198.18.9.10 with the new "
                       "settings\n");
    const auto writes = ToolWrites();
    ASSERT_GE(writes.size(), 1u);
    EXPECT_EQ(writes[0]["hex"].get<std::string>().substr(0, 4), "011c");
    EXPECT_EQ(writes[0]["dst"], "255.255.255.255");
    const auto moves = EventsNamed(ReadEvents(m_log), "address_moved");
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0]["to"], "198.18.9.10");
}

// A broadcast reaches the sending host too, the endpoint that sent it included, from the PC's own
// address. After a write by broadcast (the converter is deaf to echo) that copy carries the new
// settings and the converter's MAC address, yet it is not the converter's answer: the tool must
// neither list a row at its own address nor drop the converter's row for it. The converter moves
// to an address whose answers never reach the tool, so the write stays unconfirmed for want of an
// answer, not on the strength of one from 198.18.0.1.
TEST_F(CliLanTest, ToolsOwnBroadcastWriteIsNoConverterAnswer) {
    Testlan({"deaf", "198.18.1.7"});
    Testlan({"loss", "--percent", "100", "--dir", "out", "--address", "198.18.9.17"});
    StartSim(kFleet);
    const Output run = Ctl(
        {"write", "198.18.1.7", "--ip", "198.18.9.17", "--gateway", "198.18.0.254", "--time", "6"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "sent by broadcast (no echo reply from it)\n"
                       "the row of 198.18.1.7 is gone; it will answer from 198.18.9.17\n");
    EXPECT_EQ(run.err,
              "qarn-converter-ctl: not confirmed within 6 s: no answer from it since the write\n");
    const auto moved = WaitForEvents(m_log, 5s, [](const auto& events) {
        return !EventsNamed(events, "address_moved").empty();
    });
    EXPECT_EQ(EventsNamed(moved, "address_moved").size(), 1u) << "the write reached it";
}

// Crash dumps switched on: a running discover that receives SIGSEGV leaves a dump in the folder,
// named after the program, that gdb opens with a backtrace into the program's code.
TEST_F(CliLanTest, DiscoverWithDumpsOnLeavesADumpThatGdbOpens) {
    const std::string store = (Dir() / "registry").string();
    const std::string dumps = (Dir() / "dumps").string();
    std::filesystem::create_directories(store);
    std::filesystem::create_directories(dumps);
    ASSERT_EQ(setenv("QARN_REGISTRY_ROOT", store.c_str(), 1), 0);
    const Output set =
        Run({g_ctl, "diagnostics", "set", "--dump-type", "1", "--dump-folder", dumps});
    ASSERT_EQ(set.status, 0) << set.err;

    StartSim(kFleet);
    SimProcess discover; // testlan execs the tool, so this is the tool's own process
    ASSERT_TRUE(discover.Start({g_testlan, "exec", g_ctl, "discover", "--time", "60"}));
    // Running: its discovery request reached the converters.
    const auto requested = [](const std::vector<json>& events) {
        for (const json& event : EventsNamed(events, "datagram"))
            if (event.value("src", "") == kToolSource &&
                event.value("hex", "").rfind("011a", 0) == 0)
                return true;
        return false;
    };
    const bool running = requested(WaitForEvents(m_log, 20s, requested));
    unsetenv("QARN_REGISTRY_ROOT");
    ASSERT_TRUE(running) << "discover did not start";
    // A dump of this kind holds the faulting thread: the main thread, which runs the command.
    ASSERT_TRUE(discover.SignalMainThread(SIGSEGV));
    EXPECT_EQ(discover.Wait(30s), 128 + SIGSEGV) << "the signal still ends the program";

    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dumps))
        files.push_back(entry.path().filename().string());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(qarn-converter-ctl\.\d+\.mdmp)")))
        << files[0];
    // The dump holds the program's memory: its owner alone may read it.
    EXPECT_EQ(std::filesystem::status(dumps + "/" + files[0]).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    if (std::system("command -v gdb >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "gdb is not installed (scripts/bootstrap installs it)";
    // The signal from the dump's signal note, as a number; the faulting thread's frames from the
    // backtrace, whose lines differ with the debug symbols the machine has (a frame inside a
    // library with symbols may be an inlined one without an address, its arguments printed or
    // not): so only a line's start is read: "#N", an optional "0xADDR in ", the function's name.
    const Output gdb = Run({"/usr/bin/timeout", "120", "gdb", "-nx", "-batch", "-iex",
                            "set debuginfod enabled off", "-ex", "print $_siginfo.si_signo", "-ex",
                            "bt", g_ctl, dumps + "/" + files[0]});
    EXPECT_TRUE(
        std::regex_search(gdb.out, std::regex("(^|\n)\\$1 = " + std::to_string(SIGSEGV) + "\n")))
        << "the signal: " << gdb.out << gdb.err;
    std::vector<std::string> frames;
    const std::regex frameLine(R"((^|\n)#(\d+) +(0x[0-9a-f]+ in )?([^\n]*))");
    for (auto it = std::sregex_iterator(gdb.out.begin(), gdb.out.end(), frameLine);
         it != std::sregex_iterator(); ++it)
        frames.push_back((*it)[4].str());
    EXPECT_GE(frames.size(), 2u) << "the stack is unwound past the first frame: " << gdb.out;
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(),
                            [](const std::string& frame) {
                                return frame.rfind("qarn::", 0) == 0 ||
                                       frame.rfind("main (", 0) == 0;
                            }))
        << "a frame in the program's own code: " << gdb.out;
}

TEST_F(CliLanTest, AddressChangeToAFreeAddress) {
    StartSim(kFleet);
    const Output run = Ctl({"write", "198.18.1.4", "--ip", "198.18.9.9"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "sent to 198.18.1.4\n"
                       "the row of 198.18.1.4 is gone; it will answer from 198.18.9.9\n"
                       "confirmed: 02:51:00:00:00:04 answers from 198.18.9.9 with the new "
                       "settings\n");
    const auto rows = Discover("3");
    EXPECT_EQ(rows.count("198.18.1.4"), 0u);
    ASSERT_EQ(rows.count("198.18.9.9"), 1u);
    EXPECT_EQ(rows.at("198.18.9.9")["mac"], "02:51:00:00:00:04");
}

TEST_F(CliLanTest, AddressHeldByAnotherMacIsRefusedWithNothingSent) {
    StartSim(kFleet);
    const Output run = Ctl({"write", "198.18.1.5", "--ip", "198.18.1.6"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("198.18.1.6 is taken by another device"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(ToolWrites(), std::vector<json>{}) << "nothing on the wire";
}

TEST_F(CliLanTest, AddressThatAnswersWithItsOwnMacIsWritten) {
    // The new address already answers, from an interface with the converter's own MAC address.
    Testlan({"add-address", "198.18.9.11"});
    Testlan({"macvlan", "198.18.9.11", "02:51:00:00:00:09"});
    StartSim(kFleet);
    const Output run = Ctl({"write", "198.18.1.9", "--ip", "198.18.9.11"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("sent to 198.18.1.9\n"), std::string::npos) << run.out;
    const auto writes = ToolWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0]["dst"], "198.18.1.9");
}

// ---- export and apply ---------------------------------------------------------------------------

// The exported converters by MAC address.
std::map<std::string, json> ByMac(const json& file) {
    std::map<std::string, json> converters;
    for (const json& converter : file.value("converters", json::array()))
        converters[converter.value("mac", "")] = converter;
    return converters;
}

TEST_F(CliLanTest, ExportEditApplyExportShowsExactlyTheEdits) {
    StartSim(kFleet);
    const Output exported = Ctl({"export", "--time", "4"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    json file = json::parse(exported.out);
    ASSERT_EQ(ByMac(file).size(), 12u) << exported.out;
    for (json& converter : file["converters"]) {
        const std::string mac = converter["mac"];
        if (mac == "02:51:00:00:00:01") { // extended: every setting
            converter["port1"] = 5000;
            converter["system_type"] = "tesk";
            converter["letter"] = "Q";
        } else if (mac == "02:51:00:00:00:02") { // standard: its address settings
            converter["netmask"] = "255.255.255.0";
        } else if (mac == "02:51:00:00:00:04") {
            converter["ip"] = "198.18.9.9";
        } else if (mac == "02:51:00:00:00:05") {
            converter["gateway"] = "198.18.0.254";
        }
    }
    const Output applied = Ctl({"apply", WriteFile("edited.json", file)});
    ASSERT_EQ(applied.status, 0) << applied.out << applied.err;
    for (const char* line :
         {"02:51:00:00:00:01 (198.18.1.1): port1 4001 -> 5000; letter 'A' -> 'Q'; system_type "
          "rilo -> tesk\n",
          "02:51:00:00:00:04 (198.18.1.4): ip 198.18.1.4 -> 198.18.9.9\n",
          "02:51:00:00:00:03 (198.18.1.3): unchanged\n",
          "02:51:00:00:00:04 (198.18.1.4): confirmed, it answers from 198.18.9.9 with the new "
          "settings\n"})
        EXPECT_NE(applied.out.find(line), std::string::npos) << line << applied.out;
    EXPECT_EQ(ToolWrites().size(), 4u) << "one write for each converter edited";

    const Output again = Ctl({"export", "--time", "4"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ByMac(json::parse(again.out)), ByMac(file));

    // The CSV form of the same list reads back as nothing to change.
    const Output csv = Ctl({"export", "--csv", "--time", "4"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    const std::string path = (Dir() / "again.csv").string();
    std::ofstream(path) << csv.out;
    const Output dry = Ctl({"apply", path, "--dry-run"});
    ASSERT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.out.find("dry run: 0 of 12 converters would be written; nothing sent\n"),
              std::string::npos)
        << dry.out;
    EXPECT_EQ(ToolWrites().size(), 4u);
}

TEST_F(CliLanTest, AFileGivingTwoConvertersOneAddressIsRefusedWhole) {
    StartSim(kFleet);
    const Output exported = Ctl({"export", "--time", "4"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const struct {
        const char* name;
        std::map<std::string, std::string> moves; // MAC -> new address
        const char* reason;
    } cases[] = {
        {"both to a free address",
         {{"02:51:00:00:00:04", "198.18.9.9"}, {"02:51:00:00:00:05", "198.18.9.9"}},
         "02:51:00:00:00:04 (converters[3]) and 02:51:00:00:00:05 (converters[4]) would both "
         "have 198.18.9.9; nothing sent"},
        {"onto one that stays",
         {{"02:51:00:00:00:04", "198.18.1.5"}},
         "02:51:00:00:00:04 (converters[3]) and 02:51:00:00:00:05 (converters[4]) would both "
         "have 198.18.1.5; nothing sent"},
        {"a swap",
         {{"02:51:00:00:00:04", "198.18.1.5"}, {"02:51:00:00:00:05", "198.18.1.4"}},
         "02:51:00:00:00:04 (converters[3]) would move to 198.18.1.5, which 02:51:00:00:00:05 "
         "(converters[4]) holds until it moves itself; change the addresses in two steps; "
         "nothing sent"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        json file = json::parse(exported.out);
        for (json& converter : file["converters"]) {
            const std::string mac = converter["mac"];
            if (mac == "02:51:00:00:00:01")
                converter["port1"] = 5000; // a good edit that must not go out either
            if (c.moves.count(mac) != 0)
                converter["ip"] = c.moves.at(mac);
        }
        const std::string path = WriteFile("conflict.json", file);
        const Output run = Ctl({"apply", path});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "qarn-converter-ctl: " + path + ": " + c.reason + "\n");
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(ToolWrites(), std::vector<json>{}) << "nothing on the wire";
}

// ---- flash ----------------------------------------------------------------------------------

// Converters restarting within 3 s after an update: 3.1.20.4 takes the 1024-byte transfer,
// 2.4.9.3 the fixed layout; 6.0.0.0 is above every image's range, a converter that answers with
// blocks only never reports its version as a number, and the last one goes silent from block 100
// of the fixed layout. Those two that are never updated answer discovery 300 ms or more after the
// others, so that their answers are still on the way when the tool has found the one it updates.
const json kFlashFleet = json::parse(R"({
  "seed": 5, "defaults": {"delay_ms": [0, 50], "restart_ms": 3000},
  "converters": [
    {"ip": "198.18.1.1", "kind": "extended"},
    {"ip": "198.18.1.2", "kind": "standard", "version": "2.4.9.3"},
    {"ip": "198.18.1.3", "kind": "extended", "version": "6.0.0.0", "delay_ms": [300, 600]},
    {"ip": "198.18.1.4", "kind": "blocks", "delay_ms": [300, 600]},
    {"ip": "198.18.1.5", "kind": "standard", "version": "2.4.9.3",
     "misbehave": {"silent_from_block": 100}},
    {"ip": "198.18.1.6", "kind": "standard", "version": "2.4.9.3",
     "misbehave": {"wrong_ack_length": {"block": 8, "times": 3, "length": 20}}},
    {"ip": "198.18.1.7", "kind": "extended", "misbehave": {"commit_ack_lost": true}}
  ]})");

class CliFlashLanTest : public CliLanTest {
  protected:
    void StartFlashSim() { StartSim(kFlashFleet, {"--state", m_state}); }

    // Firmware datagrams (blocks and commits) the tool sent, to `ip` or, without one, to anyone.
    std::vector<json> ToolFirmware(const std::string& ip = "") {
        std::vector<json> sent;
        for (const json& event : EventsNamed(ReadEvents(m_log), "datagram")) {
            const std::string hex = event.value("hex", "");
            if (event.value("src", "") == kToolSource && (ip.empty() || event["dst"] == ip) &&
                (hex.rfind("011e", 0) == 0 || hex.rfind("0126", 0) == 0))
                sent.push_back(event);
        }
        return sent;
    }

    // The converter at `ip` as the simulator's state dump (SIGUSR1) has it.
    json SimState(const std::string& ip) {
        const auto ready = EventsNamed(ReadEvents(m_log), "ready");
        const size_t before = EventsNamed(ReadEvents(m_log), "state_written").size();
        if (ready.empty() || kill(ready[0]["pid"].get<pid_t>(), SIGUSR1) != 0)
            return {};
        WaitForEvents(m_log, 5s, [before](const auto& e) {
            return EventsNamed(e, "state_written").size() > before;
        });
        const json state = json::parse(qarn::test::ReadTextFile(m_state), nullptr, false);
        if (state.is_discarded() || !state.contains("converters"))
            return {};
        for (const json& converter : state["converters"])
            if (converter.value("ip", "") == ip)
                return converter;
        return {};
    }

    std::string m_state = (Dir() / "state.json").string();
};

struct FlashCase {
    const char* name;
    const char* ip;
    bool byMac;
    bool waitForRestart;
    const char* from;
    const char* to;
    uint32_t image;
    size_t datagrams; // blocks and commit, each sent once
};

class CliFlashEngineLanTest : public CliFlashLanTest,
                              public ::testing::WithParamInterface<FlashCase> {};

INSTANTIATE_TEST_SUITE_P(
    Engines, CliFlashEngineLanTest,
    ::testing::Values(FlashCase{"Sam4WithRestartWait", "198.18.1.1", false, true, "3.1.20.4",
                                "3.2.62.11", 151, 147},
                      FlashCase{"Sam4WithoutRestartWait", "198.18.1.1", false, false, "3.1.20.4",
                                "3.2.62.11", 151, 147},
                      FlashCase{"LtxWithRestartWait", "198.18.1.2", false, true, "2.4.9.3",
                                "2.4.10.23", 150, 126},
                      FlashCase{"LtxByMacWithoutRestartWait", "198.18.1.2", true, false, "2.4.9.3",
                                "2.4.10.23", 150, 126}),
    [](const ::testing::TestParamInfo<FlashCase>& info) { return info.param.name; });

TEST_P(CliFlashEngineLanTest, UpdatesTheConverterAndPrintsItsNewFirmware) {
    const FlashCase& c = GetParam();
    const json fleet = PrintFleet(kFlashFleet);
    std::string mac;
    for (const json& converter : fleet)
        if (converter["ip"] == c.ip)
            mac = converter["mac"];
    ASSERT_FALSE(mac.empty());
    StartFlashSim();

    std::vector<std::string> args = {"flash", c.byMac ? mac : c.ip, "--allow-placeholder-images"};
    if (!c.waitForRestart)
        args.push_back("--no-wait-restart");
    const Output run = Ctl(args);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");

    const std::string ip = c.ip;
    const std::string first = "updating " + ip + " (" + mac + ") from firmware " + c.from + " to " +
                              c.to + " (image " + std::to_string(c.image) + ")" +
                              (c.waitForRestart ? ", then waiting for its restart" : "") + "\n";
    EXPECT_EQ(run.out.rfind(first, 0), 0u) << run.out;
    // Not a terminal: plain lines, one per tenth.
    const std::string size = c.image == 151 ? "148972" : "131072";
    EXPECT_NE(run.out.find("\n" + ip + ": 0 % (0 of " + size + " bytes)\n"), std::string::npos);
    EXPECT_NE(run.out.find("\n" + ip + ": 100 % (" + size + " of " + size + " bytes)\n"),
              std::string::npos)
        << run.out;
    const std::string lineStart = "\n" + ip + ": ";
    size_t lines = 0;
    for (size_t at = run.out.find(lineStart); at != std::string::npos;
         at = run.out.find(lineStart, at + 1))
        ++lines;
    EXPECT_EQ(lines, 11u) << run.out;
    const std::string last =
        std::string("transfer done; ") + ip +
        (c.waitForRestart ? " restarted and answers echo again\n" : " restarts now\n") + ip +
        " now has firmware " + c.to + "\n";
    ASSERT_GE(run.out.size(), last.size());
    EXPECT_EQ(run.out.substr(run.out.size() - last.size()), last) << run.out;

    EXPECT_EQ(ToolFirmware(ip).size(), c.datagrams);
    EXPECT_EQ(ToolFirmware().size(), c.datagrams) << "to no other converter";
    EXPECT_EQ(EventsNamed(ReadEvents(m_log), "restart_end").size(), 1u);
    const json state = SimState(ip);
    EXPECT_EQ(state.value("version", ""), c.to) << state.dump();
}

TEST_F(CliFlashLanTest, ConvertersWithoutAFittingImageAreRefusedWithNothingSent) {
    StartFlashSim();
    const struct {
        const char* target;
        const char* reason;
    } cases[] = {
        {"198.18.1.3", "firmware 6.0.0.0 of 198.18.1.3 is outside 2.0.0.0 to 5.99.99.99: no image "
                       "is meant for it; nothing sent"},
        {"198.18.1.4", "the firmware version of 198.18.1.4 is not known (its answers carry no "
                       "version number); nothing sent"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const Output run = Ctl({"flash", c.target, "--allow-placeholder-images"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, std::string("qarn-converter-ctl: ") + c.reason + "\n");
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(ToolFirmware(), std::vector<json>{}) << "no firmware datagram on the wire";
    EXPECT_EQ(SimState("198.18.1.3").value("version", ""), "6.0.0.0");
}

TEST_F(CliFlashLanTest, ConverterSilentMidTransferFailsWithTheReason) {
    StartFlashSim();
    const Output run = Ctl({"flash", "198.18.1.5", "--allow-placeholder-images"});
    EXPECT_EQ(run.status, 1);
    // Block 96 was the last one acknowledged: 96 * 1000 / 4980 -> 19 %.
    EXPECT_EQ(run.err, "qarn-converter-ctl: the transfer to 198.18.1.5 broke off at 19 % (24903 of "
                       "131072 bytes): block 100 (26 of 126) was not acknowledged (no answer "
                       "within 2.5 s)\n");
    EXPECT_NE(run.out.find("\n198.18.1.5: 10 % (13107 of 131072 bytes)\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("transfer done"), std::string::npos) << run.out;

    const std::vector<json> sent = ToolFirmware("198.18.1.5");
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back()["hex"].get<std::string>().substr(8, 8), "64000000")
        << "block 100 once, nothing after it";
    EXPECT_EQ(sent.size(), 26u) << "blocks 0, 4, ... 100";
    EXPECT_EQ(SimState("198.18.1.5").value("version", ""), "2.4.9.3");
}

// The fixed layout stops at its third answer of a wrong length to block 8; the second transfer,
// from the first block, finds the converter well.
TEST_F(CliFlashLanTest, AFailedTransferStartsOverWhenAttemptsAreLeft) {
    StartFlashSim();
    const Output run =
        Ctl({"flash", "198.18.1.6", "--allow-placeholder-images", "--attempts", "2"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("attempt 1 of 2 failed: the transfer to 198.18.1.6 broke off at 0 % (0 "
                           "of 131072 bytes): block 8 (3 of 126) was not acknowledged (3 answers "
                           "of a wrong length)\nstarting over from the first block\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("198.18.1.6 now has firmware 2.4.10.23\n"), std::string::npos)
        << run.out;
    const std::vector<json> sent = ToolFirmware("198.18.1.6");
    EXPECT_EQ(sent.size(), 2 + 3 + 126u) << "blocks 0 and 4, block 8 three times, then all anew";
    EXPECT_EQ(SimState("198.18.1.6").value("version", ""), "2.4.10.23");
}

// The converter takes the image but its acknowledgement of the commit is lost: the converter
// restarts with the image and then refuses the commit when it comes again. The version it reports
// afterwards decides, and the output says so.
TEST_F(CliFlashLanTest, ALostCommitAcknowledgementIsDecidedByTheNewVersion) {
    StartFlashSim();
    const Output run = Ctl({"flash", "198.18.1.7", "--allow-placeholder-images"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("transfer not confirmed: the commit was not acknowledged ("),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("198.18.1.7 now has firmware 3.2.62.11: its new version confirms the "
                           "update the transfer could not\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(EventsNamed(ReadEvents(m_log), "restart_end").size(), 1u);
}

// ---- flash of several converters at once ----------------------------------------------------

// Both layouts and both fixed-layout images side by side; 198.18.1.4 goes silent from block 100.
const json kFleetFlash = json::parse(R"({
  "seed": 7, "defaults": {"delay_ms": [0, 50], "restart_ms": 3000},
  "converters": [
    {"ip": "198.18.1.1", "kind": "extended"},
    {"ip": "198.18.1.2", "kind": "standard", "version": "2.4.9.3"},
    {"ip": "198.18.1.3", "kind": "extended", "version": "2.1.0.4"},
    {"ip": "198.18.1.4", "kind": "standard", "version": "2.4.9.3",
     "misbehave": {"silent_from_block": 100}},
    {"ip": "198.18.1.5", "kind": "extended"}
  ]})");

// The summary table's rows by converter: old, new, verdict (the seconds vary).
std::map<std::string, std::string> SummaryRows(const std::string& out) {
    std::map<std::string, std::string> rows;
    std::istringstream lines(out);
    std::string line;
    bool inTable = false;
    while (std::getline(lines, line)) {
        if (line.rfind("converter ", 0) == 0) {
            inTable = true;
            continue;
        }
        std::istringstream cells(line);
        std::string converter, old, now, verdict;
        if (inTable && cells >> converter >> old >> now >> verdict && converter.back() != ':')
            rows[converter] = old + " " + now + " " + verdict;
    }
    return rows;
}

TEST_F(CliFlashLanTest, SeveralConvertersInParallelOneSilentFailsAlone) {
    StartSim(kFleetFlash, {"--state", m_state});
    const Output run = Ctl({"flash", "198.18.1.1", "198.18.1.2", "198.18.1.3", "198.18.1.4",
                            "198.18.1.5", "--parallel", "5", "--allow-placeholder-images"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(run.err, "qarn-converter-ctl: 1 of 5 converters not updated: 198.18.1.4\n");
    EXPECT_EQ(SummaryRows(run.out), (std::map<std::string, std::string>{
                                        {"198.18.1.1", "3.1.20.4 3.2.62.11 updated"},
                                        {"198.18.1.2", "2.4.9.3 2.4.10.23 updated"},
                                        {"198.18.1.3", "2.1.0.4 2.1.11.24 updated"},
                                        {"198.18.1.4", "2.4.9.3 - failed"},
                                        {"198.18.1.5", "3.1.20.4 3.2.62.11 updated"},
                                    }))
        << run.out;
    EXPECT_NE(run.out.find("\n198.18.1.4: the transfer to 198.18.1.4 broke off at 19 % (24903 of "
                           "131072 bytes): block 100 (26 of 126) was not acknowledged (no answer "
                           "within 2.5 s)\n"),
              std::string::npos)
        << run.out;

    // Each converter got the datagrams of a transfer of its own, each once, and no one else's.
    const std::map<std::string, size_t> expected = {{"198.18.1.1", 147},
                                                    {"198.18.1.2", 126},
                                                    {"198.18.1.3", 126},
                                                    {"198.18.1.4", 26},
                                                    {"198.18.1.5", 147}};
    size_t total = 0;
    for (const auto& [ip, count] : expected) {
        EXPECT_EQ(ToolFirmware(ip).size(), count) << ip;
        total += count;
    }
    EXPECT_EQ(ToolFirmware().size(), total);
    // The transfers overlapped: every converter had its first block before any had its last.
    const std::vector<json> sent = ToolFirmware();
    size_t lastFirst = 0, firstLast = sent.size();
    for (const auto& [ip, count] : expected) {
        size_t first = sent.size(), last = 0;
        for (size_t i = 0; i < sent.size(); ++i)
            if (sent[i]["dst"] == ip) {
                first = std::min(first, i);
                last = i;
            }
        lastFirst = std::max(lastFirst, first);
        firstLast = std::min(firstLast, last);
    }
    EXPECT_LT(lastFirst, firstLast) << "the transfers ran one after another";
    // Only a converter that took its whole image restarted; the commits all passed their check.
    EXPECT_EQ(EventsNamed(ReadEvents(m_log), "restart_end").size(), 4u);
    const auto commits = EventsNamed(ReadEvents(m_log), "commit");
    ASSERT_EQ(commits.size(), 2u);
    for (const json& commit : commits)
        EXPECT_TRUE(commit.value("ok", false)) << commit.dump();
    EXPECT_EQ(SimState("198.18.1.3").value("version", ""), "2.1.11.24");
    EXPECT_EQ(SimState("198.18.1.4").value("version", ""), "2.4.9.3");
}

} // namespace
} // namespace qarn::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--testlan")
            qarn::test::g_testlan = argv[i + 1];
        else if (option == "--ctl")
            qarn::test::g_ctl = argv[i + 1];
        else if (option == "--sim")
            qarn::test::g_sim = argv[i + 1];
    }
    return RUN_ALL_TESTS();
}
