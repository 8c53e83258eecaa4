// Firmware transfers to one simulated converter, timed: the program behind firmware_transfer.sh,
// run in the tool's side of a simulated LAN. Each transfer goes through the engine exactly as the
// program runs it (private UDP endpoint on port 58009, restart wait off); only the way of waiting
// for answers can be chosen, to compare the two.
//
//   firmware_transfer --engine sam4|ltx --target 198.18.1.1 [--count N] [--wait event|poll]
//                     [--gap-ms MS] [--image ID] [--bytes N]
//                     [--worker-pause-ms MS] [--spin-us US] [--udp-rtt N]
//
// --bytes N sends only the image's first N bytes (1024-byte engine only): with N = 1 the time is
// almost all the fixed cost of opening and closing the private endpoint.
// --worker-pause-ms gives the receive worker a pause between passes (the program's firmware worker
// has none, see UdpFirmwareTransport; the application's endpoint pauses 10 ms), to show what a
// pause costs. --spin-us sets how long the engine looks at the queue before it sleeps on the
// event (FirmwareTransferEnvironment::answerSpin; 0 sleeps at once).
//
// --udp-rtt N measures instead the round trip of a plain stop-and-wait loop against the same
// converter: one thread, one blocking socket, N unicast discovery requests, each timed until its
// first answer. That is what any user-space stop-and-wait peer pays per exchange on this link (two
// processes woken per round trip), where ping's echo is answered inside the kernel. Prints
//   {"udp_rtt_count":200,"answered":200,"median_ms":0.071,"min_ms":0.048,"max_ms":0.210}
//
// One line per transfer and a summary, each a JSON object:
//   {"engine":"sam4","wait":"event","n":0,"ok":true,"ms":41.7}
//   {"engine":"sam4","wait":"event","count":5,"ok":5,"median_ms":41.2,"min_ms":40.8,...}

#include "firmware/CLtxTransfer.h"
#include "firmware/CSam4Transfer.h"
#include "firmware/FirmwareImages.h"
#include "firmware/UdpFirmwareTransport.h"
#include "protocol/DiscoveryCycle.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Options {
    std::string engine = "sam4";
    std::string target;
    int count = 1;
    std::string wait = "event";
    int gapMs = 500; // between transfers: the converter restarts after each complete one
    uint32_t image = 0;
    size_t bytes = 0; // 0: the whole image
    uint32_t workerPauseMs = qarn::UdpFirmwareTransport::kWorkerPauseMs;
    int spinUs = -1; // -1: the program's own
    int udpRtt = 0;  // > 0: measure that many plain round trips instead of transferring
};

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--engine")
            o.engine = value;
        else if (key == "--target")
            o.target = value;
        else if (key == "--count")
            o.count = std::atoi(value);
        else if (key == "--wait")
            o.wait = value;
        else if (key == "--gap-ms")
            o.gapMs = std::atoi(value);
        else if (key == "--image")
            o.image = static_cast<uint32_t>(std::atoi(value));
        else if (key == "--bytes")
            o.bytes = static_cast<size_t>(std::atol(value));
        else if (key == "--worker-pause-ms")
            o.workerPauseMs = static_cast<uint32_t>(std::atoi(value));
        else if (key == "--spin-us")
            o.spinUs = std::atoi(value);
        else if (key == "--udp-rtt")
            o.udpRtt = std::atoi(value);
        else
            return false;
    }
    if (o.image == 0)
        o.image = o.engine == "sam4" ? qarn::kImageIdSam4 : qarn::kImageIdLtxSecond;
    return argc % 2 == 1 && !o.target.empty() && o.count > 0 &&
           (o.engine == "sam4" || o.engine == "ltx") && (o.wait == "event" || o.wait == "poll");
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A converter may answer one request with several datagrams (configuration and blocks); the
// round trip is the first, and the rest are read away before the next request.
int MeasureUdpRoundTrip(const Options& o) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(qarn::UdpFirmwareTransport::kPort);
    if (fd < 0 || inet_pton(AF_INET, o.target.c_str(), &target.sin_addr) != 1) {
        std::fprintf(stderr, "firmware_transfer: no socket, or %s is no address\n",
                     o.target.c_str());
        return 1;
    }
    const std::vector<uint8_t> request = qarn::BuildDiscoveryRequest(1);
    std::vector<uint8_t> answer(8192);
    std::vector<double> times;
    for (int n = 0; n < o.udpRtt; ++n) {
        const auto start = std::chrono::steady_clock::now();
        if (sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&target),
                   sizeof target) < 0)
            break;
        pollfd watch{fd, POLLIN, 0};
        if (poll(&watch, 1, 1000) == 1 && recv(fd, answer.data(), answer.size(), 0) > 0)
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        while (poll(&watch, 1, 2) == 1 && recv(fd, answer.data(), answer.size(), 0) > 0) {
        }
    }
    close(fd);
    const auto [lowest, highest] = std::minmax_element(times.begin(), times.end());
    std::printf("{\"udp_rtt_count\":%d,\"answered\":%zu,\"median_ms\":%.3f,\"min_ms\":%.3f,"
                "\"max_ms\":%.3f}\n",
                o.udpRtt, times.size(), Median(times), times.empty() ? 0.0 : *lowest,
                times.empty() ? 0.0 : *highest);
    return times.empty() ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: firmware_transfer --engine sam4|ltx --target IP [--count N] "
                             "[--wait event|poll] [--gap-ms MS] [--image ID] [--bytes N] "
                             "[--worker-pause-ms MS] [--spin-us US] [--udp-rtt N]\n");
        return 2;
    }
    if (o.udpRtt > 0)
        return MeasureUdpRoundTrip(o);
    std::vector<uint8_t> image;
    if (!qarn::LoadFirmwareImage(qarn::ProgramModule(), o.image, image)) {
        std::fprintf(stderr, "firmware_transfer: no image %u in this program\n", o.image);
        return 1;
    }
    if (o.bytes != 0 && o.engine == "sam4" && o.bytes < image.size())
        image.resize(o.bytes);
    qarn::FirmwareTransferEnvironment environment = qarn::FirmwareTransferEnvironment::Default();
    environment.answerWait = o.wait == "event" ? qarn::AnswerWait::Event : qarn::AnswerWait::Poll;
    if (o.spinUs >= 0)
        environment.answerSpin = std::chrono::microseconds(o.spinUs);
    environment.makeTransport = [pause = o.workerPauseMs](bool, int32_t) {
        return std::make_unique<qarn::UdpFirmwareTransport>(pause);
    };

    std::vector<double> times;
    int succeeded = 0;
    for (int n = 0; n < o.count; ++n) {
        if (n > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(o.gapMs));
        const auto start = std::chrono::steady_clock::now();
        const bool ok =
            o.engine == "sam4"
                ? qarn::CSam4Transfer(environment).Run(o.target, image, nullptr, false, true)
                : qarn::CLtxTransfer(environment).Run(o.target, image, nullptr, false, true);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        succeeded += ok ? 1 : 0;
        if (ok)
            times.push_back(ms);
        std::printf("{\"engine\":\"%s\",\"wait\":\"%s\",\"n\":%d,\"ok\":%s,\"ms\":%.1f}\n",
                    o.engine.c_str(), o.wait.c_str(), n, ok ? "true" : "false", ms);
        std::fflush(stdout);
    }
    const auto [lowest, highest] = std::minmax_element(times.begin(), times.end());
    std::printf(
        "{\"engine\":\"%s\",\"wait\":\"%s\",\"worker_pause_ms\":%u,\"spin_us\":%lld,\"image\":%u,"
        "\"bytes\":%zu,\"count\":%d,\"ok\":%d,\"median_ms\":%.1f,\"min_ms\":%.1f,"
        "\"max_ms\":%.1f}\n",
        o.engine.c_str(), o.wait.c_str(), o.workerPauseMs,
        static_cast<long long>(environment.answerSpin.count()), o.image, image.size(), o.count,
        succeeded, Median(times), times.empty() ? 0.0 : *lowest, times.empty() ? 0.0 : *highest);
    return 0;
}
