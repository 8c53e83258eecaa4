#include "platform/NameLookup.h"
#include "platform/WindowsApi.h"

#include <cstring>

namespace qarn::platform {

NameLookupResult LookupHostIPv4(const std::string& name) {
    NameLookupResult result;
    // A NUL inside the text would silently shorten the name that is looked up.
    if (name.empty() || name.find('\0') != std::string::npos) {
        result.error = WSAHOST_NOT_FOUND;
        return result;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    // One entry per address instead of one per socket type.
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    // Needs a started socket library (SocketLibraryStartup), as every caller of this layer has.
    const int code = getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (code == WSAHOST_NOT_FOUND || code == WSANO_DATA) {
        result.status = NameLookupStatus::NotFound;
        return result;
    }
    if (code != 0) {
        result.error = code;
        return result;
    }
    result.status = NameLookupStatus::NotFound;
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addr == nullptr ||
            entry->ai_addrlen < sizeof(sockaddr_in))
            continue;
        sockaddr_in address{};
        std::memcpy(&address, entry->ai_addr, sizeof address);
        result.status = NameLookupStatus::Found;
        result.address = address.sin_addr.s_addr;
        break;
    }
    freeaddrinfo(list);
    return result;
}

} // namespace qarn::platform
