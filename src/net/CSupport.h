#pragma once

#include <cstdint>
#include <string>

namespace qarn {

// Address and reachability helpers around the converter traffic. Each call starts and stops the
// socket library for itself and shares nothing, so any thread may call them.
class CSupport {
  public:
    // Every echo of PingWait: time-out in milliseconds and time-to-live.
    static constexpr uint32_t kPingTimeoutMs = 1000;
    static constexpr uint32_t kPingTtl = 255;

    // Host name or dotted IPv4 text -> the first IPv4 address the system's resolver gives, network
    // order: "192.168.1.10" -> 0x0A01A8C0. 0 for a null or empty text and for a name that does not
    // resolve. Nothing is cached between calls.
    static uint32_t GetIP(const char* text);
    static uint32_t GetIP(const std::string& text) { return GetIP(text.c_str()); }

    // Sends up to `retries` echo requests (kPingTimeoutMs, kPingTtl) one after another, until
    // one is answered; true then. There is no pause beyond each request's own time-out: a silent
    // converter costs about a second per retry, a text that does not resolve none at all. 0 retries
    // sends nothing and answers false.
    static bool PingWait(const char* text, int32_t retries);
    static bool PingWait(const std::string& text, int32_t retries) {
        return PingWait(text.c_str(), retries);
    }
};

} // namespace qarn
