#pragma once

#include "diag/DiagnosticsConfiguration.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace qarn::cli {

// The diagnostics value as it lies in the settings store, read without acting on it.
struct StoredDiagnostics {
    enum class State {
        NotSet,     // no key or no value
        Valid,      // the program would use it
        Invalid,    // present, but the program would switch both facilities off
        Unreadable, // the store could not be read (access, file system)
    };
    State state = State::NotSet;
    // The settings the value holds; filled for Valid, and for Invalid when only the checks of an
    // enabled group fail (`decoded`).
    DiagnosticsConfiguration settings;
    bool decoded = false;
    std::string problem; // why Invalid or Unreadable, one line
};

StoredDiagnostics ReadStoredDiagnostics();

// What `diagnostics set` was given; an option not given keeps the stored setting.
struct DiagnosticsChange {
    std::optional<int32_t> logLevel = std::nullopt; // 0 switches logging off, 1..4 on
    std::optional<std::string> logFolder = std::nullopt;
    std::optional<int32_t> dumpType = std::nullopt; // 0 switches crash dumps off, 1..2 on
    std::optional<std::string> dumpFolder = std::nullopt;

    bool Empty() const { return !logLevel && !logFolder && !dumpType && !dumpFolder; }
};

// Applies `change` to `settings` (a relative folder is made absolute against the current folder,
// because the programs that read it run elsewhere), then runs the checks the programs apply when
// they read the value. False with the reason when a group switched on would not be usable.
bool ApplyDiagnosticsChange(DiagnosticsConfiguration& settings, const DiagnosticsChange& change,
                            std::string* problem);

// Human-readable lines for the settings of both groups:
//   log:  on, level 4 (debug), folder /var/log/qarn
//   dump: off
std::string DescribeDiagnostics(const DiagnosticsConfiguration& settings);

// The verbs. Each writes its result to `out` and a failure as one line to `err`, and returns the
// exit status (0 done, 1 failed). Set also warns on `err` (and still succeeds) about a log or
// dump folder that every user may write and that has no sticky bit.
int ShowDiagnostics(std::ostream& out, std::ostream& err);
int SetDiagnostics(const DiagnosticsChange& change, std::ostream& out, std::ostream& err);
int ClearDiagnostics(std::ostream& out, std::ostream& err);

} // namespace qarn::cli
