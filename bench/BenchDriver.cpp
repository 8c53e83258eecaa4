#include "BenchDriver.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace qarn::bench {

pid_t Spawn(const std::vector<std::string>& argv, const std::string& out) {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    if (!out.empty())
        posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &files, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool Testlan(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QARN_TESTLAN};
    argv.insert(argv.end(), args.begin(), args.end());
    return Wait(Spawn(argv, "")) == 0;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

long SentToTool(const std::string& log) {
    std::ifstream in(log);
    std::string line;
    long sent = 0;
    while (std::getline(in, line)) {
        if (line.find("\"event\":\"sent\"") != std::string::npos &&
            line.find("198.18.0.1") != std::string::npos)
            ++sent;
    }
    return sent;
}

std::string AddressOf(size_t index) {
    const size_t n = 256 + index; // 198.18.0.0 + 256 is 198.18.1.0
    return "198.18." + std::to_string(n / 256) + "." + std::to_string(n % 256);
}

std::vector<size_t> ParseSizes(const std::string& text) {
    std::vector<size_t> sizes;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        sizes.push_back(std::stoul(item));
    return sizes;
}

std::string FleetLog(const std::string& folder) {
    return folder + "/sim.jsonl";
}

pid_t StartFleet(size_t count, size_t deaf, const std::string& folder, std::string& error) {
    const std::string n = std::to_string(count);
    if (!Testlan({"up", "--converters", n, "--static-arp"})) {
        error = "testlan up failed";
        return -1;
    }
    for (size_t i = 1; i <= deaf; ++i) {
        if (!Testlan({"deaf", AddressOf(i)})) {
            error = "testlan deaf failed";
            return -1;
        }
    }
    const std::string log = FleetLog(folder);
    std::remove(log.c_str());
    const pid_t sim =
        Spawn({QARN_TESTLAN, "lan-exec", QARN_SIM, "--count", n, "--mix",
               "extended=2,standard=1,blocks=1", "--delay", "0-1000", "--seed", "5", "--log", log},
              folder + "/sim.out");
    if (sim < 0) {
        error = "the simulator did not start";
        return -1;
    }
    for (int i = 0; i < 200 && Slurp(log).find("\"ready\"") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return sim;
}

} // namespace qarn::bench
