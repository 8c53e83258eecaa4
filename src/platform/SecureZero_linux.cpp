#include "platform/SecureZero.h"

#include <cstring>

namespace qarn::platform {

void SecureZero(void* buffer, size_t size) {
    explicit_bzero(buffer, size);
}

} // namespace qarn::platform
