// Logs from several threads through the log facility, as one process of a program would, so that
// tests can run it as real processes next to each other.
//
//     qarn_log_driver <threads> <lines per thread> <debug|info|warning|error> [tag]
//
// The settings come from the store the environment names (QARN_REGISTRY_ROOT). Prints
//     logged <lines it passed to the facility>
//     mutex <name of the logger's mutex, or "-" without a logger>
// and exits 0; 2 on bad arguments.

#include "diag/CFileLogger.h"
#include "diag/FileLogger.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using LogFunction = void (*)(const std::string&);

LogFunction LevelFunction(const char* name) {
    if (std::strcmp(name, "debug") == 0)
        return qarn::LogDebug;
    if (std::strcmp(name, "info") == 0)
        return qarn::LogInfo;
    if (std::strcmp(name, "warning") == 0)
        return qarn::LogWarning;
    if (std::strcmp(name, "error") == 0)
        return qarn::LogError;
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <threads> <lines> <debug|info|warning|error> [tag]\n",
                     argv[0]);
        return 2;
    }
    const int threads = std::atoi(argv[1]);
    const int lines = std::atoi(argv[2]);
    const LogFunction log = LevelFunction(argv[3]);
    const std::string tag = argc > 4 ? argv[4] : "run";
    if (threads <= 0 || lines < 0 || log == nullptr) {
        std::fprintf(stderr, "bad arguments\n");
        return 2;
    }

    qarn::InitFileLoggerFacility();
    const qarn::CFileLogger* logger = qarn::CFileLogger::GetInstance();
    const std::string mutexName = logger != nullptr ? logger->MutexName() : "-";
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            // Non-ASCII on purpose: a line torn between processes would show in the surrogates.
            const std::string head = "driver " + tag + " pid " + std::to_string(getpid()) +
                                     " thread " + std::to_string(t) + " line ";
            for (int k = 0; k < lines; ++k)
                log(head + std::to_string(k) +
                    " gr\xC3\xBC\xC3\x9F"
                    "e \xF0\x9D\x84\x9E");
        });
    }
    for (auto& worker : workers)
        worker.join();
    qarn::ShutdownFileLoggerFacility();

    std::printf("logged %ld\nmutex %s\n", static_cast<long>(threads) * lines, mutexName.c_str());
    return 0;
}
