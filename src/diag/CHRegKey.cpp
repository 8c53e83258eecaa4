#include "diag/CHRegKey.h"

#include "diag/FileLogger.h"

#include <cstdio>

namespace qarn {

void CHRegKey::Attach(platform::RegKeyHandle key) {
    if (key == m_hKey)
        return;
    _Release();
    m_hKey = key;
}

void CHRegKey::_Release() {
    if (m_hKey == nullptr)
        return;
    const platform::RegStatus status = platform::RegistryCloseKey(m_hKey);
    m_hKey = nullptr;
    if (status != platform::kRegOk && IsErrorLogEnabled()) {
        // e.g. "CHRegKey::_Release(): RegCloseKey() error: 0x000003f8"
        char line[64];
        std::snprintf(line, sizeof line, "CHRegKey::_Release(): RegCloseKey() error: 0x%08x",
                      static_cast<unsigned>(status));
        LogError(line);
    }
}

} // namespace qarn
