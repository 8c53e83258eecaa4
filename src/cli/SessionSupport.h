#pragma once

#include "cli/Target.h"
#include "protocol/DeviceList.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <ostream>
#include <string>

namespace qarn::cli {

// Helpers the network verbs share.

// Seconds as given on the command line -> the loop's limit, rounded to the millisecond.
std::chrono::milliseconds SecondsToMs(double seconds);

// "2.5 s"
std::string SecondsText(double seconds);

// The row of the converter `target` names: by source address, or the first row holding the MAC.
std::optional<size_t> FindTargetRow(const DeviceList& list, const Target& target);

// The row of `target` when it is ready to be shown, written or updated: all its answers are in and
// its echo result too (a write and an update go by it).
std::optional<size_t> FindReadyRow(const DeviceList& list, const Target& target);

// Why `target` is not ready after `seconds`: it never answered, which of its answers are still
// missing ("198.18.1.7 answered, but its answers are incomplete after 10 s (missing blocks 16,
// 17)"), or that its echo has not been answered yet.
std::string NotReadyReason(const DeviceList& list, const Target& target, double seconds);

// Writes "qarn-converter-ctl: <reason>" and gives the usage status.
int UsageError(std::ostream& err, const std::string& reason);

} // namespace qarn::cli
