#include "platform/SocketLibrary.h"
#include "platform/WindowsApi.h"

#include <atomic>

namespace qarn::platform {

namespace {

std::atomic<int32_t> g_users{0};

uint8_t Major(uint16_t version) {
    return static_cast<uint8_t>(version & 0xFF);
}
uint8_t Minor(uint16_t version) {
    return static_cast<uint8_t>(version >> 8);
}

// Orders versions by major, then minor number: 0x0101 (1.1) is below 0x0002 (2.0).
int Rank(uint16_t version) {
    return Major(version) * 256 + Minor(version);
}

} // namespace

int32_t SocketLibraryStartup(uint16_t requested, uint16_t* obtained) {
    const bool supported = Major(requested) >= 1;
    const uint16_t version = supported && Rank(requested) < Rank(kSocketLibraryVersion)
                                 ? requested
                                 : kSocketLibraryVersion;
    if (obtained != nullptr)
        *obtained = version;
    if (!supported)
        return kSocketVersionNotSupported;
    // Winsock counts its start-ups as this count does; each user holds one of its own.
    WSADATA data{};
    const int started = WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0)
        return started;
    g_users.fetch_add(1);
    return 0;
}

int32_t SocketLibraryCleanup() {
    int32_t users = g_users.load();
    do {
        if (users <= 0)
            return kSocketNotInitialised;
    } while (!g_users.compare_exchange_weak(users, users - 1));
    WSACleanup();
    return 0;
}

int32_t SocketLibraryUsers() {
    return g_users.load();
}

} // namespace qarn::platform
