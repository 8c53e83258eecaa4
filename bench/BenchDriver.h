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

// The address of converter `index` of a simulated LAN: 1 is 198.18.1.1, 255 is 198.18.1.255.
std::string AddressOf(size_t index);

// "100,1000,5000" as numbers.
std::vector<size_t> ParseSizes(const std::string& text);

// Where StartFleet's simulator logs, in `folder`.
std::string FleetLog(const std::string& folder);

// A fresh simulated LAN of `count` converters, the first `deaf` of them without echo, and the
// simulator serving them (the discovery benchmarks' mix of kinds, answers within a second),
// ready when this returns. The simulator's pid, or -1 with `error` saying which step failed.
pid_t StartFleet(size_t count, size_t deaf, const std::string& folder, std::string& error);

} // namespace qarn::bench
