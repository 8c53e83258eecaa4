#pragma once

#include <cstdint>

// The socket library's start-up and clean-up: on Windows Winsock 2.2's WSAStartup and WSACleanup,
// which every socket needs first; on Linux sockets need no start-up, but the callers keep their
// version checks and log lines, so the pair is kept as the same reference count there. It
// reports the library version 2.2. Versions are 16-bit words with the major number in the low byte
// and the minor number in the high byte: 2.2 -> 0x0202 (514), 1.1 -> 0x0101.
//
// Safe from any thread.

namespace qarn::platform {

inline constexpr uint16_t kSocketLibraryVersion = 0x0202;

// Error codes of the pair (0 is success).
inline constexpr int32_t kSocketVersionNotSupported = 10092; // asked for less than 1.0
inline constexpr int32_t kSocketNotInitialised = 10093;      // clean-up without a start-up

// Starts the library for one user. `obtained` receives the version the caller may use: the one
// asked for when it is 1.0 .. 2.2, else 2.2. Asking for a version below 1.0 fails; `obtained` then
// still receives 2.2 (the highest version there is) and the count is unchanged.
int32_t SocketLibraryStartup(uint16_t requested, uint16_t* obtained);

// Ends one user's start-up. Without a matching start-up: kSocketNotInitialised.
int32_t SocketLibraryCleanup();

// Start-ups not yet cleaned up, process-wide (tests check that users balance their calls).
int32_t SocketLibraryUsers();

} // namespace qarn::platform
