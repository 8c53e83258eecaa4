// Outside bytes that reach `apply`: the settings file. Nothing may crash, a refusal says where in
// one line, and what the reader accepts must read back the same after export writes it again.
#include "cli/SettingsFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool Same(const std::vector<qarn::cli::SettingsEntry>& a,
          const std::vector<qarn::cli::SettingsEntry>& b, bool csv) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].mac != b[i].mac)
            return false;
        for (const char* key : qarn::cli::kSettingsKeys) {
            std::optional<std::string> left = qarn::cli::SettingOf(a[i].settings, key);
            // CSV cannot say "no letter"; its empty cell is no setting.
            if (csv && left && left->empty())
                left.reset();
            if (left != qarn::cli::SettingOf(b[i].settings, key))
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<qarn::cli::SettingsEntry> entries;
    std::string error;
    if (!qarn::cli::ParseSettingsFile(text, entries, &error)) {
        if (error.empty() || error.find('\n') != std::string::npos || !entries.empty())
            std::abort();
        return 0;
    }
    for (const bool csv : {false, true}) {
        const std::string again =
            csv ? qarn::cli::FormatSettingsCsv(entries) : qarn::cli::FormatSettingsJson(entries);
        std::vector<qarn::cli::SettingsEntry> reread;
        if (!qarn::cli::ParseSettingsFile(again, reread, &error) || !Same(entries, reread, csv))
            std::abort();
    }
    return 0;
}
