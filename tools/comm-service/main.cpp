// qarn-comm-service: serves the local communication clients of this machine (see CCommService).
//
//   qarn-comm-service [--port 58009] [--local-port 58009] [--group NAME] [--queue-id qarnCS]
//
// Prints "ready" with its process id once the queue exists, one line per connection opened or
// closed, and ends on SIGINT or SIGTERM after telling every client ("C").
#include "diag/FileLogger.h"
#include "ipc/CCommService.h"
#include "platform/Process.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <grp.h>
#include <iostream>
#include <string_view>
#include <unistd.h>

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnStopSignal(int) {
    g_stop.store(true);
}

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A client that vanishes mid-send must not end the service.
    std::signal(SIGPIPE, SIG_IGN);
}

bool GroupId(const std::string& name, gid_t& gid) {
    if (const group* entry = getgrnam(name.c_str())) {
        gid = entry->gr_gid;
        return true;
    }
    char* end = nullptr;
    const unsigned long number = std::strtoul(name.c_str(), &end, 10);
    if (name.empty() || *end != '\0')
        return false;
    gid = static_cast<gid_t>(number);
    return true;
}

int Serve(const qarn::CommServiceOptions& options) {
    qarn::CCommService service(options);
    std::string why;
    if (!service.Start(&why)) {
        std::cerr << "qarn-comm-service: " << why << "\n";
        return 1;
    }
    service.SetEventHook([](const std::string& text) { std::cout << text << std::endl; });
    std::cout << "ready: queue " << options.queueId << ", converters on UDP port "
              << options.converterPort << ", pid " << getpid() << std::endl;
    service.Run(g_stop);
    service.Stop();
    std::cout << "stopped" << std::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const char* debugOutput = std::getenv("QARN_DEBUG_OUTPUT");
    qarn::platform::SetDebugOutputEnabled(debugOutput != nullptr && *debugOutput != '\0' &&
                                          std::string_view(debugOutput) != "0");
    qarn::CommServiceOptions options;
    std::string group;
    CLI::App app{"qarn-comm-service: carries the firmware transfers of local clients to the "
                 "converters over UDP"};
    app.add_option("--port", options.converterPort, "UDP port of the converters")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    app.add_option("--local-port", options.localPort,
                   "UDP port the converters' answers come to (0: any free port)")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    app.add_option("--group", group,
                   "group whose members may use the service besides its own user");
    app.add_option("--queue-id", options.queueId, "name of the shared queue")
        ->capture_default_str();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : 2;
    }
    if (!group.empty()) {
        gid_t gid = 0;
        if (!GroupId(group, gid)) {
            std::cerr << "qarn-comm-service: no group '" << group << "'\n";
            return 2;
        }
        options.group = gid;
    }
    InstallStopHandlers();
    qarn::InitFileLoggerFacility();
    const int status = Serve(options);
    qarn::ShutdownFileLoggerFacility();
    return status;
}
