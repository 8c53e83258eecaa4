// Discovery in a flood of spoofed answers, as qarn-converter-ctl runs it: 5 simulated converters
// among well-formed configuration answers from 60,000 spoofed sources at 20,000 per second. How
// soon the 5 are listed and complete, whether they stay so, and how much memory the tool needs
// over a minute of flood.
//
// Run as root (or where scripts/testlan works without root):
//     cmake --build build/main --target flood_bench qarn-converter-sim
//     build/main/bench/flood_bench [--seconds 60] [--rate 20000] [--sources 60000]
//
// The program itself stays in the machine's namespace and sends nothing: it builds a simulated
// LAN (name from QARN_TESTLAN_NAME, default "qarnflood") with the 5 converters, starts the
// simulator and, in the converters' namespace, itself with --flood, which sends the spoofed
// answers through a raw socket from 198.18.16.0 upward (each source with a MAC address and serial
// number of its own, every source again every 3 s). Two seconds into the flood it starts itself
// with --measure in the tool's namespace: the command line's main loop (ConverterSession), whose
// first discovery request goes out at once. It prints one JSON line per second and a summary.
//
// Goal: the 5 converters listed and complete within two discovery cycles (8 s) and listed all the
// time afterwards; the tool's resident memory under 64 MB for the minute.

#include "BenchDriver.h"
#include "SimWire.h"
#include "cli/ConverterSession.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <nlohmann/json.hpp>
#include <random>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using qarn::bench::Slurp;
using qarn::bench::Spawn;
using qarn::bench::Testlan;
using qarn::bench::Wait;

using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr int kConverters = 5;
constexpr int kGoalSeconds = 8;    // two discovery cycles
constexpr long kGoalRssKb = 65536; // 64 MB
constexpr uint16_t kPort = 58009;

volatile std::sig_atomic_t g_stop = 0;

// 198.18.1.n in network order.
uint32_t Converter(int n) {
    return htonl((198u << 24) | (18u << 16) | (1u << 8) | static_cast<uint32_t>(n));
}

// Spoofed source i: 198.18.16.0 upward, inside the tool's /16 and clear of the converters.
uint32_t SpoofedSource(uint32_t i) {
    return htonl((198u << 24) | (18u << 16) | ((16u + i / 256) << 8) | (i % 256));
}

long ResidentKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    return -1;
}

// --- the flood, in the converters' namespace ----------------------------------------------------

// One IPv4/UDP packet carrying a configuration answer of spoofed source i.
std::vector<uint8_t> SpoofedPacket(uint32_t i, uint32_t target) {
    qarn::sim::SimSettings settings;
    settings.ip = ntohl(SpoofedSource(i));
    settings.mac = {0x02,
                    0xF1,
                    static_cast<uint8_t>(i >> 24),
                    static_cast<uint8_t>(i >> 16),
                    static_cast<uint8_t>(i >> 8),
                    static_cast<uint8_t>(i)};
    char serial[24];
    std::snprintf(serial, sizeof serial, "731458%08u", i % 100000000u);
    settings.serial = serial;
    settings.firmwareVersion = 3026211;
    const std::vector<uint8_t> answer =
        qarn::sim::BuildConfigurationAnswer(settings, 0x1000 + (i & 0x7FFF), 88);
    std::vector<uint8_t> packet(sizeof(iphdr) + sizeof(udphdr) + answer.size(), 0);
    auto* ip = reinterpret_cast<iphdr*>(packet.data());
    ip->version = 4;
    ip->ihl = 5;
    ip->ttl = 64;
    ip->protocol = IPPROTO_UDP;
    ip->saddr = SpoofedSource(i);
    ip->daddr = target; // length, id and checksum are the kernel's (IP_HDRINCL)
    auto* udp = reinterpret_cast<udphdr*>(packet.data() + sizeof(iphdr));
    udp->source = htons(kPort);
    udp->dest = htons(kPort);
    udp->len = htons(static_cast<uint16_t>(sizeof(udphdr) + answer.size()));
    std::copy(answer.begin(), answer.end(), packet.begin() + sizeof(iphdr) + sizeof(udphdr));
    return packet;
}

int Flood(int rate, uint32_t sources, int seconds) {
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (fd < 0) {
        std::perror("flood_bench: raw socket");
        return 1;
    }
    const uint32_t target = htonl((198u << 24) | (18u << 16) | 1u); // 198.18.0.1: the tool
    std::vector<std::vector<uint8_t>> packets;
    packets.reserve(sources);
    for (uint32_t i = 0; i < sources; ++i)
        packets.push_back(SpoofedPacket(i, target));
    std::mt19937 random(11);
    std::shuffle(packets.begin(), packets.end(), random);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = target;
    std::cout << json{{"flood_pid", getpid()}}.dump() << std::endl;

    // One slice of rate / 1000 datagrams every millisecond.
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::seconds(seconds);
    size_t next = 0;
    long sent = 0, failed = 0;
    for (Clock::time_point slice = start; g_stop == 0 && slice < end;
         slice += std::chrono::milliseconds(1)) {
        std::this_thread::sleep_until(slice);
        for (int k = 0; k < rate / 1000; ++k) {
            const std::vector<uint8_t>& p = packets[next];
            next = (next + 1) % packets.size();
            if (sendto(fd, p.data(), p.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
                ++failed;
            else
                ++sent;
        }
    }
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    std::cout << json{{"flood_sent", sent}, {"flood_failed", failed}, {"seconds", took}}.dump()
              << std::endl;
    close(fd);
    return 0;
}

// --- the tool, in its namespace ---------------------------------------------------------------

int Measure(int seconds) {
    qarn::cli::ConverterSession session(kPort);
    std::string why;
    if (!session.Open(&why)) {
        std::cerr << "flood_bench: " << why << "\n";
        return 1;
    }
    const qarn::DeviceList& list = session.List();
    const auto realComplete = [&] {
        int complete = 0;
        for (int n = 1; n <= kConverters; ++n) {
            const std::optional<size_t> row = list.FindRowBySource(Converter(n));
            complete += row && list.GetRecord(*row)->bComplete ? 1 : 0;
        }
        return complete;
    };
    const Clock::time_point start = Clock::now();
    double completeAt = -1;
    int leastAfter = kConverters;
    long peakRss = 0;
    for (int second = 1; second <= seconds; ++second) {
        const Clock::time_point until = start + std::chrono::seconds(second);
        while (Clock::now() < until) {
            session.RunUntil(std::chrono::milliseconds(50), [] { return false; });
            const int complete = realComplete();
            if (completeAt < 0 && complete == kConverters)
                completeAt = std::chrono::duration<double>(Clock::now() - start).count();
            else if (completeAt >= 0)
                leastAfter = std::min(leastAfter, complete);
        }
        const long rss = ResidentKb("VmRSS:");
        peakRss = std::max(peakRss, rss);
        const qarn::DropCounts& drops = list.GetDropCounts();
        std::cout << json{{"second", second},
                          {"rows", list.GetRowCount()},
                          {"real_complete", realComplete()},
                          {"rss_kb", rss},
                          {"handled", session.GetAnswerCount()},
                          {"dropped_queue_full", drops.queueFull},
                          {"dropped_waiting_full", drops.waitingFull},
                          {"dropped_list_full", drops.listFull},
                          {"echoes_put_off", drops.echoRefused},
                          {"echoes_pending", list.GetPendingEchoCount()}}
                         .dump()
                  << std::endl;
    }
    const double cpuUs =
        session.GetAnswerCount() == 0
            ? 0.0
            : std::chrono::duration<double, std::micro>(session.GetAnswerCpuTime()).count() /
                  static_cast<double>(session.GetAnswerCount());
    std::cout << json{{"summary", true},
                      {"complete_seconds", completeAt},
                      {"real_complete_least_afterwards", leastAfter},
                      {"peak_rss_kb", std::max(peakRss, ResidentKb("VmHWM:"))},
                      {"rows", list.GetRowCount()},
                      {"handled", session.GetAnswerCount()},
                      {"cpu_us_per_datagram", cpuUs}}
                     .dump()
              << std::endl;
    return 0;
}

// --- driver -------------------------------------------------------------------------------------

// The pid in the simulator's "ready" line, or -1.
pid_t ReadyPid(const std::string& log) {
    std::istringstream lines(Slurp(log));
    std::string line;
    while (std::getline(lines, line)) {
        const json event = json::parse(line, nullptr, false);
        if (event.is_object() && event.value("event", "") == "ready")
            return event.value("pid", -1);
    }
    return -1;
}

int Drive(const std::string& self, int seconds, int rate, int sources) {
    char folder[] = "/tmp/qarn-flood-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr || chmod(folder, 0755) != 0) {
        std::perror("flood_bench: temporary folder");
        return 1;
    }
    if (!Testlan({"up", "--converters", std::to_string(kConverters)})) {
        std::cerr << "flood_bench: testlan up failed\n";
        return 1;
    }
    const std::string log = std::string(folder) + "/sim.jsonl";
    const pid_t simulator = Spawn({QARN_TESTLAN, "lan-exec", QARN_SIM, "--count", "5", "--mix",
                                   "extended=2,standard=2,blocks=1", "--delay", "0-1000", "--seed",
                                   "5", "--no-datagram-log", "--log", log},
                                  std::string(folder) + "/sim.out");
    pid_t simPid = -1;
    for (int i = 0; i < 200 && (simPid = ReadyPid(log)) < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string floodOut = std::string(folder) + "/flood.json";
    const pid_t flood =
        Spawn({QARN_TESTLAN, "lan-exec", self, "--flood", std::to_string(rate), "--sources",
               std::to_string(sources), "--seconds", std::to_string(seconds + 10)},
              floodOut);
    std::this_thread::sleep_for(std::chrono::seconds(2)); // the tool starts into the flood
    const std::string measureOut = std::string(folder) + "/measure.jsonl";
    const pid_t measure =
        Spawn({QARN_TESTLAN, "exec", self, "--measure", std::to_string(seconds)}, measureOut);
    const int measured = Wait(measure);
    // Both run in the other namespace under testlan's own process: each is ended by the process
    // id it wrote.
    const json floodStart =
        json::parse(Slurp(floodOut).substr(0, Slurp(floodOut).find('\n')), nullptr, false);
    if (floodStart.is_object() && floodStart.value("flood_pid", 0) > 0)
        kill(floodStart["flood_pid"].get<pid_t>(), SIGTERM);
    if (simPid > 0)
        kill(simPid, SIGTERM);
    Wait(simulator);
    Wait(flood);
    std::cout << Slurp(measureOut) << Slurp(floodOut);
    Testlan({"down"});
    std::filesystem::remove_all(folder);
    return measured;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 60, rate = 20000, sources = 60000;
    std::string mode = "drive";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (option == "--measure") {
            mode = "measure";
            seconds = value;
        } else if (option == "--flood") {
            mode = "flood";
            rate = value;
        } else if (option == "--seconds") {
            seconds = value;
        } else if (option == "--rate") {
            rate = value;
        } else if (option == "--sources") {
            sources = value;
        }
    }
    if (mode == "measure")
        return Measure(seconds);
    if (mode == "flood")
        return Flood(rate, static_cast<uint32_t>(sources), seconds);
    if (std::getenv("QARN_TESTLAN_NAME") == nullptr)
        setenv("QARN_TESTLAN_NAME", "qarnflood", 1);
    char path[4096] = {};
    if (readlink("/proc/self/exe", path, sizeof path - 1) <= 0) {
        std::perror("flood_bench: own path");
        return 1;
    }
    const int status = Drive(path, seconds, rate, sources);
    std::cout << "goal: the " << kConverters << " converters listed and complete within "
              << kGoalSeconds << " s and all the time afterwards; peak RSS below "
              << kGoalRssKb / 1024 << " MB\n";
    return status;
}
