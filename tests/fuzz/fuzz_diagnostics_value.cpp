// Outside bytes that reach the diagnostics settings: the store's value file and the value inside
// it. Nothing may crash, and what the reader accepts must survive a trip through the writer.
#include "diag/DiagnosticsConfiguration.h"
#include "diag/DiagnosticsValue.h"
#include "platform/Registry.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

bool SameSettings(const qarn::DiagnosticsConfiguration& a,
                  const qarn::DiagnosticsConfiguration& b) {
    return a.dumpEnabled == b.dumpEnabled && a.dumpType == b.dumpType &&
           a.dumpFolder == b.dumpFolder && a.logEnabled == b.logEnabled &&
           a.logLevel == b.logLevel && a.logFolder == b.logFolder;
}

void CheckValueFile(std::span<const uint8_t> file) {
    uint32_t type = 0;
    std::span<const uint8_t> data;
    if (qarn::platform::DecodeRegistryValueFile(file, type, data) != qarn::platform::kRegOk)
        return;
    // An accepted file is exactly what the encoder makes of its type and bytes.
    const std::vector<uint8_t> again = qarn::platform::EncodeRegistryValueFile(type, data);
    if (!std::equal(again.begin(), again.end(), file.begin(), file.end()))
        std::abort();
}

void CheckValue(const uint8_t* data, size_t size) {
    qarn::DiagnosticsConfiguration full;
    const bool accepted = full.Parse(data, size);

    qarn::DiagnosticsConfiguration read;
    if (!read.ParseLayout(data, size)) {
        if (accepted)
            std::abort(); // Parse accepts only what the layout reader accepts
        return;
    }
    const std::vector<uint8_t> rebuilt = qarn::BuildDiagnosticsValue(read);
    qarn::DiagnosticsConfiguration again;
    if (!again.ParseLayout(rebuilt.data(), rebuilt.size()) || !SameSettings(read, again))
        std::abort();
    if (accepted && !again.Validate())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckValueFile(std::span<const uint8_t>(data, size));
    CheckValue(data, size);
    // The value as the store hands it out: the payload of a well-formed value file.
    if (size >= qarn::platform::kRegValueFileHeaderSize) {
        uint32_t type = 0;
        std::span<const uint8_t> payload;
        if (qarn::platform::DecodeRegistryValueFile(std::span<const uint8_t>(data, size), type,
                                                    payload) == qarn::platform::kRegOk)
            CheckValue(payload.data(), payload.size());
    }
    return 0;
}
