#include "platform/SecureZero.h"
#include "platform/WindowsApi.h"

namespace qarn::platform {

void SecureZero(void* buffer, size_t size) {
    SecureZeroMemory(buffer, size);
}

} // namespace qarn::platform
