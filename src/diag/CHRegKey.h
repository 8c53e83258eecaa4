#pragma once

#include "platform/Registry.h"

namespace qarn {

// Owns one open key of the settings store and closes it when destroyed.
class CHRegKey {
  public:
    CHRegKey() = default;
    explicit CHRegKey(platform::RegKeyHandle key) : m_hKey(key) {}
    CHRegKey(const CHRegKey&) = delete;
    CHRegKey& operator=(const CHRegKey&) = delete;
    ~CHRegKey() { _Release(); }

    // Closes the key held before (if any) and takes `key`.
    void Attach(platform::RegKeyHandle key);

    platform::RegKeyHandle Get() const { return m_hKey; }

    // Closes the key, if one is held, and forgets it. A failed close goes to the error log only
    // (nothing when logging is off, or while the logger is being built and not yet published).
    void _Release();

  private:
    platform::RegKeyHandle m_hKey = nullptr;
};

} // namespace qarn
