#pragma once

#include <ostream>
#include <string>

namespace qarn::cli {

// Exit statuses of qarn-converter-ctl: scripts tell a refused command from a mistyped one.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1; // the command could not be done; one line says why
inline constexpr int kExitUsage = 2;   // the command line itself is wrong

inline constexpr const char* kProgramName = "qarn-converter-ctl";

// Writes "qarn-converter-ctl: <reason>" as one line and gives kExitFailure.
inline int Fail(std::ostream& err, const std::string& reason) {
    err << kProgramName << ": " << reason << "\n";
    return kExitFailure;
}

} // namespace qarn::cli
