#pragma once

// <windows.h> for the Windows siblings of the platform layer. With UNICODE the system defines
// several of its function names as macros (OutputDebugString -> OutputDebugStringW), and some of
// them are names of this layer's own functions; the macros go, so that a sibling defines the
// function its callers (which never see <windows.h>) call. The system's functions are called by
// their W names. Project headers sort before system headers, so this one comes before those that
// need it (the IP helper, the shell).

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#undef OutputDebugString
#undef GetModuleFileName
#undef GetModuleBaseName
