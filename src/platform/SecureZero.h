#pragma once

#include <cstddef>

namespace qarn::platform {

// Overwrites `size` bytes at `buffer` with zeros in a way the optimiser must keep, also when the
// buffer is freed right after (a plain memset there may be dropped as a dead store).
void SecureZero(void* buffer, size_t size);

} // namespace qarn::platform
