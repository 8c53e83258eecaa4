#include "BenchDriver.h"

#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>

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

} // namespace qarn::bench
