// What the benchmarks that drive a simulated LAN share: starting programs (in the LAN's namespaces
// through scripts/testlan), waiting for them, and reading what the simulator logged.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace qarn::bench {

// Starts argv[0] (a path) with argv and this environment; its standard output goes to `out`
// when that is not empty. -1 when it cannot start.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& out);

// The exit status of `pid`, 128 + the signal that ended it, or -1.
int Wait(pid_t pid);

// Runs scripts/testlan with `args` and says whether it succeeded.
bool Testlan(const std::vector<std::string>& args);

// The whole content of a file, empty when it cannot be read.
std::string Slurp(const std::string& path);

// Datagrams the simulator sent to the tool (198.18.0.1), from its JSON-lines log.
long SentToTool(const std::string& log);

} // namespace qarn::bench
