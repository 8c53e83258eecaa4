// Log file throughput: lines per second through the log facility for one process, and for two
// processes of the same program writing to the shared file at once, and how many lines were
// dropped (a line is dropped when the cross-process mutex cannot be had within 10 ms).
//
// Run:
//     cmake -S . -B build -G Ninja -DQARN_WITH_QT=OFF -DQARN_BUILD_BENCH=ON
//     cmake --build build --target log_throughput
//     build/bench/log_throughput [lines per process, default 20000] [threads per process, default
//     1]
//
// It works in a temporary folder of its own (settings store and log folder), forks itself for the
// writing processes and removes everything afterwards. Goals: at least 20,000 lines/s for one
// process; no line dropped for two processes writing 20,000 lines each.

#include "diag/DiagnosticsConfiguration.h"
#include "diag/DiagnosticsValue.h"
#include "diag/FileLogger.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdlib.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Scenario {
    const char* label;
    int processes;
    int threads;
};

// One writing process: its share of lines from `threads` threads, then exit without returning.
[[noreturn]] void WriteLines(int lines, int threads) {
    qarn::InitFileLoggerFacility();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        const int share = lines / threads + (t < lines % threads ? 1 : 0);
        workers.emplace_back([share, t] {
            const std::string head = "bench thread " + std::to_string(t) + " line ";
            for (int k = 0; k < share; ++k)
                qarn::LogInfo(head + std::to_string(k) + " some payload to give the line a size");
        });
    }
    for (auto& worker : workers)
        worker.join();
    qarn::ShutdownFileLoggerFacility();
    _exit(0);
}

// Lines in a UTF-16LE log file: LF code units.
long CountLinesIn(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    long lines = 0;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        lines += bytes[i] == '\n' && bytes[i + 1] == 0;
    return lines;
}

// Lines in the log folder, rotated files included (40,000 lines pass the 8 MiB mark).
long CountLines(const std::string& folder) {
    long lines = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        lines += CountLinesIn(entry.path().string());
    return lines;
}

bool Run(const Scenario& scenario, int lines, const std::string& logs) {
    for (const auto& entry : std::filesystem::directory_iterator(logs))
        std::filesystem::remove(entry.path());
    const auto start = std::chrono::steady_clock::now();
    std::vector<pid_t> children;
    for (int p = 0; p < scenario.processes; ++p) {
        const pid_t pid = fork();
        if (pid == 0)
            WriteLines(lines, scenario.threads);
        if (pid < 0)
            return false;
        children.push_back(pid);
    }
    bool ok = true;
    for (const pid_t pid : children) {
        int status = 0;
        ok = waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ok;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long expected = static_cast<long>(scenario.processes) * lines;
    const long written = CountLines(logs);
    std::printf("%-20s %7ld lines in %6.3f s = %8.0f lines/s, dropped %ld\n", scenario.label,
                written, seconds, static_cast<double>(written) / seconds, expected - written);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    const int lines = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int threads = argc > 2 ? std::atoi(argv[2]) : 1;
    if (lines <= 0 || threads <= 0) {
        std::fprintf(stderr, "usage: %s [lines per process] [threads per process]\n", argv[0]);
        return 2;
    }
    std::string folder = (std::filesystem::temp_directory_path() / "qarn-logbench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string logs = folder + "/logs";
    std::filesystem::create_directories(logs);
    setenv("QARN_REGISTRY_ROOT", (folder + "/registry").c_str(), 1);
    qarn::DiagnosticsConfiguration settings;
    settings.logEnabled = true;
    settings.logLevel = 3;
    settings.logFolder = logs;
    std::string error;
    if (!qarn::WriteDiagnosticsValue(settings, &error)) {
        std::fprintf(stderr, "cannot store the log settings: %s\n", error.c_str());
        std::filesystem::remove_all(folder);
        return 1;
    }

    const std::string perProcess = std::to_string(threads) + " thread(s)";
    const Scenario scenarios[] = {
        {"1 process", 1, threads},
        {"2 processes at once", 2, threads},
    };
    std::printf("%d lines per process, %s each\n", lines, perProcess.c_str());
    bool ok = true;
    for (const Scenario& scenario : scenarios)
        ok = Run(scenario, lines, logs) && ok;
    std::filesystem::remove_all(folder);
    return ok ? 0 : 1;
}
