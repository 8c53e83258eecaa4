// Discovery of whole fleets in the window: for 1,000, 5,000 and 10,000 simulated converters, and
// for 1,000 of which 100 do not answer echo, the seconds from the first discovery request until
// every converter is listed and complete, how long the window's events wait meanwhile (p50, p99,
// max), the memory the program holds (RSS), and what was lost on the way.
//
// Run as root (or where scripts/testlan works without root):
//     cmake --build build/main --target gui_discovery_bench qarn-converter-sim
//     build/main/bin/gui_discovery_bench [--sizes 1000,5000,10000] [--deaf 100] [--rounds 1]
//
// The program itself stays in the machine's namespace and sends nothing: for every run it resets
// the simulated LAN (QARN_TESTLAN_NAME, default "qarnguib"), starts the simulator in the
// converters' namespace and runs itself with --measure in the tool's namespace. There the real
// window (the program's application object and dialog factory) runs on the offscreen platform
// (QT_QPA_PLATFORM=xcb with a DISPLAY shows it), and prints one JSON line. Converters answer
// within the first second of a request (--delay 0-1000), a quarter of them with four block
// answers instead of one configuration answer.
//
// Event latency: a thread posts a call to the window's thread every 5 ms; the time until the call
// runs is how long a click or a key would have waited. It is sampled from the window's opening
// until four discovery cycles after the first request.
//
// Goal: 10,000 listed and complete within two cycles (8 s), p99 under 50 ms, nothing lost.
//
// Measured on the development machine (2 cores shared with other builds and test runs, load
// average 3.2-4.8 while measuring, so latencies include waits for a processor), medians of 3 runs:
//     1,000 converters           1.00 s   p99  1.8 ms   RSS 40 MiB   nothing lost
//     5,000 converters           1.28 s   p99 48.3 ms   RSS 44 MiB   nothing lost
//     10,000 converters          2.26 s   p99 53.3 ms   RSS 50 MiB   nothing lost
//     1,000, 100 without echo    4.11 s   p99  1.6 ms   RSS 40 MiB   nothing lost
// At load 1.8-2.7, 10,000 converters: 1.89-2.42 s, p99 39.2-50.1 ms (median 39.5), nothing lost.
// Every converter answers both broadcast copies of a request (limited and directed), 10,000 of
// them some 35,000 datagrams within a second, all from sources the list has not seen yet. The
// window takes a few seconds to list them; meanwhile the answers wait, and only the latest of
// each kind per converter is kept, so the whole fleet fits and is listed within the first cycle.
// The converters without echo take longer because each holds an echo worker for the echo's
// time-out (1 s), 32 of them at a time: 100 need four rounds.
//
// Before (the same machine, load 1-2.8): 10,000 converters needed the second request (4.9-5.3 s,
// or the third, 8.6 s, on a quiet machine) because everything past 4,096 datagrams from new
// sources was dropped (9,000-21,000 per run), and under load the receive worker lost the
// processor after each datagram, so the socket's buffer overflowed as well (up to 10,000 lost).

#include "BenchDriver.h"
#include "app/QarnTeskConverterConfigApp.h"
#include "ui/DeviceListModel.h"
#include "ui/MainDialogFactory.h"
#include "ui/QarnTeskConverterConfigDlg.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QTimer>

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

// The window's first discovery request goes out at the first tick of its one-second timer.
constexpr std::chrono::milliseconds kFirstRequestAfter{1000};
constexpr std::chrono::seconds kMeasureLimit{20};
constexpr std::chrono::seconds kSampleAfterFirstRequest{16}; // four discovery cycles
constexpr std::chrono::milliseconds kProbeEvery{5};

// A counter of /proc/net/snmp's Udp line in this namespace ("RcvbufErrors", "InDatagrams").
long UdpCounter(const std::string& wanted) {
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
            if (name == wanted)
                return std::stol(value);
    }
    return -1;
}

// Kilobytes of "VmRSS:" or "VmHWM:" of this process.
long StatusKb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(field.size()));
    return -1;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

// Posts a call to `context`'s thread every kProbeEvery and keeps how long each waited (ms).
class LatencyProbe {
  public:
    explicit LatencyProbe(QObject* context) : m_context(context) {
        m_thread = std::thread([this] { Run(); });
    }
    ~LatencyProbe() { Stop(); }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::vector<double> Samples() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_samples;
    }

  private:
    void Run() {
        while (!m_stop) {
            const Clock::time_point posted = Clock::now();
            QMetaObject::invokeMethod(
                m_context,
                [this, posted] {
                    const double waited =
                        std::chrono::duration<double, std::milli>(Clock::now() - posted).count();
                    std::lock_guard<std::mutex> lock(m_lock);
                    m_samples.push_back(waited);
                },
                Qt::QueuedConnection);
            std::this_thread::sleep_for(kProbeEvery);
        }
    }

    QObject* m_context;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<double> m_samples;
    std::thread m_thread;
};

// Tool side: the window until `expected` converters are listed and complete and the sampling
// time is over; one JSON line.
int Measure(size_t expected, int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qarn::QarnTeskConverterConfigApp app("qarn-converter-config-bench");
    QApplication qt(argc, argv);
    app.StoreLanguage("ENU");
    qarn::MainDialogFactory factory(qarn::ProgramOptions{});
    const long rcvbufBefore = UdpCounter("RcvbufErrors");
    const long inBefore = UdpCounter("InDatagrams");
    json result{{"pid", getpid()}, {"expected", expected}};

    QTimer::singleShot(0, [&] {
        qarn::QarnTeskConverterConfigDlg* window = factory.Current();
        if (window == nullptr) {
            result["error"] = "no window";
            return;
        }
        const Clock::time_point opened = Clock::now();
        const Clock::time_point firstRequest = opened + kFirstRequestAfter;
        LatencyProbe probe(window);
        const qarn::DeviceList& list = window->List();
        std::optional<double> seconds;
        size_t listed = 0, complete = 0;
        while (Clock::now() < firstRequest + kMeasureLimit) {
            // Waits for the next event (the probe posts one every 5 ms) instead of spinning, which
            // would take the processor from the window's own threads.
            QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            if (!seconds) {
                listed = list.GetRowCount();
                complete = 0;
                for (size_t row = 0; row < listed; ++row)
                    complete += list.GetRecord(row)->bComplete ? 1 : 0;
                if (complete >= expected && list.GetPendingEchoCount() == 0)
                    seconds = std::chrono::duration<double>(Clock::now() - firstRequest).count();
            } else if (Clock::now() >= firstRequest + kSampleAfterFirstRequest) {
                break;
            }
        }
        probe.Stop();
        const std::vector<double> samples = probe.Samples();
        const qarn::DropCounts& drops = list.GetDropCounts();
        result["done"] = seconds.has_value();
        result["seconds"] = seconds.value_or(-1);
        result["listed"] = listed;
        result["complete"] = complete;
        result["latency_p50_ms"] = Percentile(samples, 0.50);
        result["latency_p99_ms"] = Percentile(samples, 0.99);
        result["latency_max_ms"] =
            samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end());
        result["samples"] = samples.size();
        result["rss_kb"] = StatusKb("VmRSS:");
        result["peak_rss_kb"] = StatusKb("VmHWM:");
        result["receive_buffer_drops"] = UdpCounter("RcvbufErrors") - rcvbufBefore;
        result["udp_in"] = UdpCounter("InDatagrams") - inBefore;
        result["dropped_in_window"] = drops.queueFull + drops.waitingFull + drops.listFull;
        result["dropped_queue_full"] = drops.queueFull;
        result["dropped_waiting_full"] = drops.waitingFull;
        result["dropped_list_full"] = drops.listFull;
        result["echo_refused"] = drops.echoRefused;
        window->close();
    });
    app.InitInstance(std::ref(factory));
    std::cout << result.dump() << std::endl;
    return result.contains("error") ? 1 : 0;
}

// --- driver ----------------------------------------------------------------------------------

// One run: a fresh LAN of `count` converters (the first `deaf` of them without echo), the
// simulator, the window in the tool's namespace.
json RunOnce(const std::string& self, size_t count, size_t deaf, const std::string& folder) {
    const std::string n = std::to_string(count);
    std::string error;
    const pid_t sim = StartFleet(count, deaf, folder, error);
    if (sim < 0)
        return {{"error", error}};
    const std::string out = folder + "/measure.json";
    const pid_t measure = Spawn({QARN_TESTLAN, "exec", "env", "XDG_CONFIG_HOME=" + folder,
                                 "XDG_RUNTIME_DIR=" + folder + "/run", self, "--measure", n},
                                out);
    const int status = Wait(measure);
    kill(sim, SIGTERM);
    Wait(sim);
    const json result = json::parse(Slurp(out), nullptr, false);
    if (status != 0 || !result.is_object())
        return {{"error", "measurement failed"}};
    json r = result;
    r["sent_to_tool"] = SentToTool(FleetLog(folder));
    return r;
}

void Report(const std::string& label, const json& r) {
    if (r.contains("error")) {
        std::printf("%-24s  %s\n", label.c_str(), r["error"].get<std::string>().c_str());
        return;
    }
    std::printf("%-24s  %6.2f s  %5zu listed  %5zu complete  latency p50 %5.1f ms  p99 %5.1f ms"
                "  max %6.1f ms  RSS %5.1f MiB (peak %5.1f)  %6ld sent  %4ld buffer drops"
                "  %4ld dropped (queue %ld, waiting %ld, list %ld)  %ld echoes put off%s\n",
                label.c_str(), r["seconds"].get<double>(), r["listed"].get<size_t>(),
                r["complete"].get<size_t>(), r["latency_p50_ms"].get<double>(),
                r["latency_p99_ms"].get<double>(), r["latency_max_ms"].get<double>(),
                r["rss_kb"].get<double>() / 1024.0, r["peak_rss_kb"].get<double>() / 1024.0,
                r["sent_to_tool"].get<long>(), r["receive_buffer_drops"].get<long>(),
                r["dropped_in_window"].get<long>(), r["dropped_queue_full"].get<long>(),
                r["dropped_waiting_full"].get<long>(), r["dropped_list_full"].get<long>(),
                r["echo_refused"].get<long>(), r["done"].get<bool>() ? "" : "  (time limit)");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<size_t> sizes{1000, 5000, 10000};
    size_t deaf = 100;
    int rounds = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--measure")
            return Measure(std::stoul(argv[i + 1]), argc, argv);
        if (option == "--sizes")
            sizes = ParseSizes(argv[i + 1]);
        else if (option == "--deaf")
            deaf = std::stoul(argv[i + 1]);
        else if (option == "--rounds")
            rounds = std::stoi(argv[i + 1]);
    }
    if (std::getenv("QARN_TESTLAN_NAME") == nullptr)
        setenv("QARN_TESTLAN_NAME", "qarnguib", 1);
    char folder[] = "/tmp/qarn-gui-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr || chmod(folder, 0755) != 0) {
        std::perror("gui_discovery_bench: temporary folder");
        return 1;
    }
    std::filesystem::create_directories(std::string(folder) + "/run");
    chmod((std::string(folder) + "/run").c_str(), 0700);
    char path[4096] = {};
    if (readlink("/proc/self/exe", path, sizeof path - 1) <= 0) {
        std::perror("gui_discovery_bench: own path");
        return 1;
    }
    for (const size_t count : sizes)
        for (int round = 1; round <= rounds; ++round)
            Report(std::to_string(count) + " converters #" + std::to_string(round),
                   RunOnce(path, count, 0, folder));
    if (deaf > 0)
        for (int round = 1; round <= rounds; ++round)
            Report("1000, " + std::to_string(deaf) + " deaf #" + std::to_string(round),
                   RunOnce(path, 1000, deaf, folder));
    Testlan({"down"});
    std::filesystem::remove_all(folder);
    return 0;
}
