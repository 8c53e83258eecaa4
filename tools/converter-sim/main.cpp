// qarn-converter-sim: a fleet of simulated LAN converters behind one UDP socket.
//
//   scripts/testlan up --converters 1000
//   scripts/testlan lan-exec qarn-converter-sim --count 1000 --delay 0-1000 --log /tmp/sim.jsonl
//
// See CSimFleetLoader.h for the fleet file and CSimServer.h for signals.
#include "CSimAddressControl.h"
#include "CSimEventLog.h"
#include "CSimFleet.h"
#include "CSimFleetLoader.h"
#include "CSimServer.h"
#include "SimText.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#ifndef QARN_DEFAULT_TESTLAN
#define QARN_DEFAULT_TESTLAN "scripts/testlan"
#endif

namespace {

using nlohmann::json;
using namespace qarn::sim;

struct Arguments {
    std::string config;
    size_t count = 0;
    std::string first = "198.18.1.1";
    std::string mix;
    uint64_t seed = 0;
    std::string delay;
    std::string style;
    int prefix = -1;
    int restartMs = -1;
    std::string versionAfterUpdate;
    std::string addressControl = "none";
    std::string testlan; // empty: DefaultTestlan()
    std::string log;
    bool logDatagrams = true;
    bool printFleet = false;
    CSimServer::Options server;
    double durationS = 0;
};

// "extended=2,standard=1" -> {"extended": 2, "standard": 1}.
bool ParseMix(const std::string& text, json* mix) {
    *mix = json::object();
    std::istringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        const size_t equals = item.find('=');
        const std::string kind = item.substr(0, equals);
        unsigned long weight = 1;
        if (equals != std::string::npos) {
            char* end = nullptr;
            weight = std::strtoul(item.c_str() + equals + 1, &end, 10);
            if (*end != 0 || end == item.c_str() + equals + 1)
                return false;
        }
        if (kind.empty())
            return false;
        (*mix)[kind] = weight;
    }
    return !mix->empty();
}

// "50" -> 50, "0-1000" -> [0, 1000].
bool ParseDelay(const std::string& text, json* delay) {
    unsigned long low = 0;
    unsigned long high = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%lu-%lu%c", &low, &high, &extra) == 2 && low <= high) {
        *delay = json::array({low, high});
        return true;
    }
    if (std::sscanf(text.c_str(), "%lu%c", &low, &extra) == 1) {
        *delay = low;
        return true;
    }
    return false;
}

// The options folded into a fleet description, on top of the file's when one is given.
bool BuildDescription(const Arguments& a, json* fleet, std::string* why) {
    *fleet = json::object();
    if (!a.config.empty()) {
        std::ifstream in(a.config);
        *fleet = json::parse(in, nullptr, false);
        if (!in || fleet->is_discarded() || !fleet->is_object()) {
            *why = a.config + ": cannot be read as a JSON object";
            return false;
        }
    }
    json& defaults = (*fleet)["defaults"];
    if (defaults.is_null())
        defaults = json::object();
    if (a.count > 0) {
        json generate = {{"count", a.count}, {"first", a.first}};
        if (!a.mix.empty() && !ParseMix(a.mix, &generate["mix"])) {
            *why = "--mix: expected kind=weight,kind=weight";
            return false;
        }
        (*fleet)["generate"] = generate;
    }
    if (a.seed != 0)
        (*fleet)["seed"] = a.seed;
    if (!a.delay.empty() && !ParseDelay(a.delay, &defaults["delay_ms"])) {
        *why = "--delay: expected MS or MIN-MAX";
        return false;
    }
    if (!a.style.empty())
        defaults["style"] = a.style;
    if (a.prefix >= 0)
        defaults["prefix"] = a.prefix;
    if (a.restartMs >= 0)
        defaults["restart_ms"] = a.restartMs;
    if (!a.versionAfterUpdate.empty())
        defaults["version_after_update"] = a.versionAfterUpdate;
    return true;
}

void AddOptions(CLI::App& app, Arguments& a) {
    app.add_option("--config", a.config, "fleet file (JSON)")->check(CLI::ExistingFile);
    app.add_option("--count", a.count, "generate this many converters");
    app.add_option("--first", a.first, "address of the first generated converter");
    app.add_option("--mix", a.mix,
                   "kinds of generated converters, e.g. extended=2,standard=1,blocks=1 "
                   "(extended, standard, legacy, blocks, both, other)");
    app.add_option("--seed", a.seed, "seed for delays, scrambling seeds, losses and serials");
    app.add_option("--delay", a.delay, "answer delay in ms: MS or MIN-MAX (random in the window)");
    app.add_option("--style", a.style, "answer style for all: config88, config80, blocks, both");
    app.add_option("--prefix", a.prefix, "netmask prefix length of every converter")
        ->check(CLI::Range(0, 32));
    app.add_option("--restart-ms", a.restartMs, "silent time after a new image (ms)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--version-after-update", a.versionAfterUpdate,
                   "version after a 1024-byte-block update (default 3.2.62.11)");
    app.add_option("--bind", a.server.bindAddress, "address to bind the socket to");
    app.add_option("--port", a.server.port, "UDP port (0: any free one)");
    app.add_option("--sndbuf", a.server.sendBufferBytes, "socket send buffer in bytes (0: large)");
    app.add_option("--log", a.log, "event log, JSON lines");
    app.add_flag("!--no-datagram-log", a.logDatagrams,
                 "log only changes, not every datagram with its bytes (for timing runs)");
    app.add_option("--state", a.server.statePath, "where SIGUSR1 and the end write the fleet");
    app.add_option("--duration-s", a.durationS, "stop after this many seconds (0: on a signal)");
    app.add_option("--address-control", a.addressControl,
                   "how moved or restarting converters change their address: none, ip, testlan")
        ->check(CLI::IsMember({"none", "ip", "testlan"}));
    app.add_option("--testlan", a.testlan,
                   "the LAN script for --address-control testlan (default: the source tree's, "
                   "else the installed one)");
    app.add_flag("--print-fleet", a.printFleet, "print the fleet as JSON and exit");
}

// The LAN script of the source tree this program was built from, or, for an installed program
// whose source tree is gone, the copy the package installs ("/usr/bin/qarn-converter-sim" ->
// "/usr/lib/qarn-converter-config/testlan").
std::string DefaultTestlan() {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::exists(QARN_DEFAULT_TESTLAN, error))
        return QARN_DEFAULT_TESTLAN;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    const fs::path installed = self.parent_path() / "../lib/qarn-converter-config/testlan";
    return !error && fs::exists(installed, error) ? installed.lexically_normal().string()
                                                  : QARN_DEFAULT_TESTLAN;
}

std::unique_ptr<CSimAddressControl> MakeAddressControl(const Arguments& a) {
    if (a.addressControl == "testlan")
        return std::make_unique<CSimAddressControl>(
            CSimAddressControl::Mode::Testlan, a.testlan.empty() ? DefaultTestlan() : a.testlan);
    if (a.addressControl != "ip")
        return nullptr;
    if (!CSimAddressControl::InOwnNetNamespace()) {
        std::cerr
            << "qarn-converter-sim: --address-control ip refused in the machine's own network "
               "namespace; run inside the simulated LAN (scripts/testlan lan-exec)\n";
        return nullptr;
    }
    return std::make_unique<CSimAddressControl>(CSimAddressControl::Mode::Ip, "");
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"A fleet of simulated LAN converters on one UDP socket"};
    Arguments a;
    AddOptions(app, a);
    CLI11_PARSE(app, argc, argv);

    json description;
    std::vector<SimConverterConfig> configs;
    std::string why;
    if (!BuildDescription(a, &description, &why) ||
        !CSimFleetLoader::FromJson(description, &configs, &why)) {
        std::cerr << "qarn-converter-sim: " << why << "\n";
        return 2;
    }
    CSimEventLog log;
    log.SetDatagramsLogged(a.logDatagrams);
    if (!a.log.empty() && !log.Open(a.log, &why)) {
        std::cerr << "qarn-converter-sim: " << why << "\n";
        return 1;
    }
    auto control = MakeAddressControl(a);
    if (a.addressControl == "ip" && control == nullptr)
        return 1;
    CSimFleet fleet(log, control.get());
    for (const auto& config : configs) {
        if (!fleet.Add(config, &why)) {
            std::cerr << "qarn-converter-sim: " << why << "\n";
            return 2;
        }
    }
    if (a.printFleet) {
        std::cout << fleet.State()["converters"].dump(2) << "\n";
        return 0;
    }
    CSimServer server(fleet, log);
    a.server.durationMs = static_cast<uint32_t>(a.durationS * 1000);
    if (!server.Open(a.server, &why)) {
        std::cerr << "qarn-converter-sim: " << why << "\n";
        return 1;
    }
    fleet.LogEvent(server.NowMs(), {{"event", "ready"},
                                    {"converters", fleet.Size()},
                                    {"bind", a.server.bindAddress},
                                    {"port", server.Port()},
                                    {"pid", getpid()}});
    server.Run();
    return 0;
}
