// Discovery of whole fleets as qarn-converter-ctl runs it: for 100, 1,000 and 5,000 simulated
// converters, the time from the first discovery request until every converter is listed and
// complete, the answers lost on the way, and the CPU time the device list spends per answer; then
// the same with converters in the fleet that do not answer echo.
//
// Run as root (or where scripts/testlan works without root):
//     cmake -S . -B build -G Ninja -DQARN_WITH_QT=OFF -DQARN_BUILD_BENCH=ON
//     cmake --build build --target discovery_bench qarn-converter-sim
//     build/bench/discovery_bench [--sizes 100,1000,5000] [--rounds 3]
//
// The program itself stays in the machine's namespace and sends nothing: for every run it resets
// the simulated LAN (LAN name from QARN_TESTLAN_NAME, default "qarnbench"), starts the simulator in
// the converters' namespace and runs itself with --measure in the tool's namespace, which prints
// one JSON line. Converters answer within the first second of a request (the simulator's --delay
// 0-1000), a quarter of them with four block answers instead of one configuration answer.
//
// Goal: 1,000 converters listed and complete within one discovery cycle (4 s), 5,000 within two
// (8 s), none lost.

#include "BenchDriver.h"
#include "cli/ConverterSession.h"
#include "protocol/LANconvConfigHdr.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <span>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using qarn::bench::FleetLog;
using qarn::bench::ParseSizes;
using qarn::bench::SentToTool;
using qarn::bench::Slurp;
using qarn::bench::Spawn;
using qarn::bench::StartFleet;
using qarn::bench::Testlan;
using qarn::bench::Wait;

using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr auto kMeasureLimit = std::chrono::seconds(20);

// The kernel's count of UDP datagrams dropped for a full receive buffer in this namespace.
long ReceiveBufferErrors() {
    std::ifstream snmp("/proc/net/snmp");
    std::string line, header;
    while (std::getline(snmp, line)) {
        if (line.rfind("Udp:", 0) != 0)
            continue;
        if (header.empty()) {
            header = line;
            continue;
        }
        std::istringstream names(header), values(line);
        std::string name, value;
        while (names >> name && values >> value)
            if (name == "RcvbufErrors")
                return std::stol(value);
    }
    return -1;
}

volatile std::sig_atomic_t g_stop = 0;

// Tool side: discovery until `expected` converters are listed and complete, as one JSON line; then
// the loop goes on taking answers until SIGUSR1 (the driver sends it once the simulator has ended),
// and a second line counts every datagram that came from the converters.
int Measure(size_t expected) {
    std::signal(SIGUSR1, [](int) { g_stop = 1; });
    qarn::cli::ConverterSession session(qarn::CUDPSocket::kConverterPort);
    std::string why;
    if (!session.Open(&why)) {
        std::cerr << "discovery_bench: " << why << "\n";
        return 1;
    }
    uint64_t fromConverters = 0;
    session.SetAnswerHook([&](uint32_t, qarn::AnswerDisposition, std::span<const uint8_t> data) {
        // The tool hears its own broadcast requests too.
        if (!(data.size() >= 2 && data[0] == 1 && data[1] == qarn::kCmdDiscoveryRequest))
            ++fromConverters;
    });
    const long dropsBefore = ReceiveBufferErrors();
    const qarn::DeviceList& list = session.List();
    const Clock::time_point start = Clock::now(); // the first tick sends the first request
    Clock::time_point lastLook = start;
    size_t listed = 0, complete = 0;
    const bool done =
        session.RunUntil(std::chrono::duration_cast<std::chrono::milliseconds>(kMeasureLimit), [&] {
            // Counting every row after every datagram would cost more than the list itself.
            const Clock::time_point now = Clock::now();
            if (now - lastLook < std::chrono::milliseconds(5) && complete < expected)
                return false;
            lastLook = now;
            listed = list.GetRowCount();
            complete = 0;
            for (size_t row = 0; row < listed; ++row)
                complete += list.GetRecord(row)->bComplete ? 1 : 0;
            return complete >= expected;
        });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const uint64_t handled = session.GetAnswerCount();
    const double cpuMicros =
        handled == 0
            ? 0.0
            : std::chrono::duration<double, std::micro>(session.GetAnswerCpuTime()).count() /
                  static_cast<double>(handled);
    std::cout << json{{"pid", getpid()},  {"done", done},         {"seconds", seconds},
                      {"listed", listed}, {"complete", complete}, {"cpu_us_per_answer", cpuMicros}}
                     .dump()
              << std::endl;
    while (g_stop == 0)
        session.RunUntil(std::chrono::milliseconds(50), [] { return g_stop != 0; });
    session.RunUntil(std::chrono::milliseconds(300), [] { return false; }); // what is in flight
    std::cout << json{{"from_converters", fromConverters},
                      {"receive_buffer_drops", ReceiveBufferErrors() - dropsBefore}}
                     .dump()
              << std::endl;
    return 0;
}

// --- driver ----------------------------------------------------------------------------------

// One run: a fresh LAN of `count` converters (the first `deaf` of them without echo), the
// simulator, the measurement in the tool's namespace.
json RunOnce(const std::string& self, size_t count, size_t deaf, const std::string& folder) {
    const std::string n = std::to_string(count);
    std::string error;
    const pid_t sim = StartFleet(count, deaf, folder, error);
    if (sim < 0)
        return {{"error", error}};
    const std::string out = folder + "/measure.json";
    const pid_t measure = Spawn({QARN_TESTLAN, "exec", self, "--measure", n}, out);
    json result;
    for (int i = 0; i < 600 && measure > 0; ++i) {
        std::istringstream lines(Slurp(out));
        std::string first;
        if (std::getline(lines, first) && (result = json::parse(first, nullptr, false)).is_object())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // The simulator ends first, so that every answer it sent has been counted when the tool stops.
    kill(sim, SIGTERM);
    Wait(sim);
    if (result.is_object())
        kill(result["pid"].get<pid_t>(), SIGUSR1);
    const int status = Wait(measure);
    std::istringstream lines(Slurp(out));
    std::string first, second;
    std::getline(lines, first);
    std::getline(lines, second);
    const json totals = json::parse(second, nullptr, false);
    if (status != 0 || !result.is_object() || !totals.is_object())
        return {{"error", "measurement failed"}};
    result.update(totals);
    result["sent_to_tool"] = SentToTool(FleetLog(folder));
    return result;
}

void Report(const std::string& label, const json& r) {
    if (r.contains("error")) {
        std::printf("%-22s  %s\n", label.c_str(), r["error"].get<std::string>().c_str());
        return;
    }
    const long lost = r["sent_to_tool"].get<long>() - r["from_converters"].get<long>();
    std::printf("%-22s  %7.2f s  %5zu listed  %5zu complete  %6ld sent  %6ld lost  %4ld dropped  "
                "%6.1f us/answer%s\n",
                label.c_str(), r["seconds"].get<double>(), r["listed"].get<size_t>(),
                r["complete"].get<size_t>(), r["sent_to_tool"].get<long>(), lost,
                r["receive_buffer_drops"].get<long>(), r["cpu_us_per_answer"].get<double>(),
                r["done"].get<bool>() ? "" : "  (time limit)");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<size_t> sizes{100, 1000, 5000};
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--measure")
            return Measure(std::stoul(argv[i + 1]));
        if (option == "--sizes")
            sizes = ParseSizes(argv[i + 1]);
        else if (option == "--rounds")
            rounds = std::stoi(argv[i + 1]);
    }
    if (std::getenv("QARN_TESTLAN_NAME") == nullptr)
        setenv("QARN_TESTLAN_NAME", "qarnbench", 1);
    char folder[] = "/tmp/qarn-discovery-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr || chmod(folder, 0755) != 0) {
        std::perror("discovery_bench: temporary folder");
        return 1;
    }
    const std::string self = "/proc/self/exe";
    char path[4096] = {};
    if (readlink(self.c_str(), path, sizeof path - 1) <= 0) {
        std::perror("discovery_bench: own path");
        return 1;
    }
    for (const size_t count : sizes)
        for (int round = 1; round <= rounds; ++round)
            Report(std::to_string(count) + " converters #" + std::to_string(round),
                   RunOnce(path, count, 0, folder));
    // A converter without echo: its echo takes the whole time-out (1 s) on a worker, and must
    // not hold up the answers of the others.
    for (const size_t deaf : {1, 5})
        for (int round = 1; round <= rounds; ++round)
            Report("1000, " + std::to_string(deaf) + " deaf #" + std::to_string(round),
                   RunOnce(path, 1000, deaf, folder));
    Testlan({"down"});
    std::filesystem::remove_all(folder);
    return 0;
}
