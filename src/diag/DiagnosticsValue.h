#pragma once

#include "diag/DiagnosticsConfiguration.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qarn {

// The program only reads the diagnostics value; these build and store one for the people who set
// diagnostics up (the command line offers them) and for tests.

// The binary value for the six settings of `settings`, in exactly the layout that
// DiagnosticsConfiguration::Parse reads back. Key path and value name are not part of it.
std::vector<uint8_t> BuildDiagnosticsValue(const DiagnosticsConfiguration& settings);

// Stores BuildDiagnosticsValue(settings) under settings.keyPath / settings.valueName, creating the
// key. On failure returns false and, when `error` is given, a one-line reason.
bool WriteDiagnosticsValue(const DiagnosticsConfiguration& settings, std::string* error = nullptr);

// Removes the value (diagnostics off). A value that does not exist counts as removed.
bool ClearDiagnosticsValue(std::string* error = nullptr);

} // namespace qarn
