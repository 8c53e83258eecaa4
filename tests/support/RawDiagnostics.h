#pragma once

#include "diag/DiagnosticsConfiguration.h"
#include "diag/DiagnosticsValue.h"
#include "platform/Registry.h"

#include <cstdint>
#include <vector>

namespace qarn::test {

// Stores `settings` as the diagnostics value, straight into the store: also settings that the
// settings writer refuses (an enabled log of level 0, dump type 3, a missing folder), so that
// tests can show how the program reads them.
inline bool StoreRawDiagnostics(const DiagnosticsConfiguration& settings) {
    const std::vector<uint8_t> value = BuildDiagnosticsValue(settings);
    platform::RegKeyHandle key = nullptr;
    if (platform::RegistryCreateKey(platform::kHKeyLocalMachine, settings.keyPath,
                                    platform::kKeyRead | platform::kKeyWrite,
                                    &key) != platform::kRegOk)
        return false;
    const bool stored =
        platform::RegistrySetValue(key, settings.valueName, platform::kRegBinary, value.data(),
                                   static_cast<uint32_t>(value.size())) == platform::kRegOk;
    platform::RegistryCloseKey(key);
    return stored;
}

} // namespace qarn::test
