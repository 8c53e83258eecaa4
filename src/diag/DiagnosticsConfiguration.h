#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qarn {

// The diagnostics settings: crash dumps and the log file, both switched on and pointed at folders
// by one binary value under the key "SOFTWARE\qarn\Diagnostics", value "Configuration", of the
// machine settings store. Each user reads the value once at start-up; a value that is missing or
// invalid in any part leaves both crash dumps and logging off.
class DiagnosticsConfiguration {
  public:
    DiagnosticsConfiguration();

    // Both flags false, both numbers 0, both folders empty.
    void Reset();

    // Read the value from the settings store, parse it and Validate. On false the fields may hold
    // parsed values; callers act on the settings only after true.
    bool Load();

    // Parse a whole value already read (its first four bytes are its own length), then Validate.
    // Load uses it after reading the store; the fuzz target feeds it arbitrary bytes.
    bool Parse(const uint8_t* data, size_t size);

    // The reading half of Parse: Reset, then the six settings from the layout, without Validate.
    // False when the value breaks the layout; the fields are then left reset.
    bool ParseLayout(const uint8_t* data, size_t size);

    // The checks of an enabled group: dump type 1 or 2, log level 1..4, folder not empty and
    // existing. A disabled group is not checked at all.
    bool Validate() const;

    // Why Validate fails, as one line ("log folder '/var/log/x' does not exist"); empty when it
    // holds.
    std::string ValidationProblem() const;

    bool dumpEnabled = false;
    int32_t dumpType = 0; // 1 normal dump, 2 dump with all readable memory
    std::string dumpFolder;
    bool logEnabled = false;
    int32_t logLevel = 0; // 1 errors, 2 + warnings, 3 + information, 4 + debug
    std::string logFolder;
    std::string keyPath;   // "SOFTWARE\qarn\Diagnostics"
    std::string valueName; // "Configuration"
};

} // namespace qarn
