#pragma once

#include <string>

// The form in which the whole program logs. Callers test the level first when they format a
// message, then pass the finished text:
//
//     if (IsInfoLogEnabled())
//         LogInfo("CUDPSocket::Open: port " + std::to_string(port));
//
// Texts are UTF-8; the log file holds them as UTF-16LE. A null text writes nothing.

namespace qarn {

// Creates the facility and its one logger (which reads the diagnostics settings once) and writes
// the start line. A second call while initialised does nothing.
void InitFileLoggerFacility();

// Writes the end line and destroys the logger; afterwards every Log call does nothing.
void ShutdownFileLoggerFacility();

void LogDebug(const char* text);
void LogInfo(const char* text);
void LogWarning(const char* text);
void LogError(const char* text);
void LogDebug(const std::string& text);
void LogInfo(const std::string& text);
void LogWarning(const std::string& text);
void LogError(const std::string& text);

// True when the logger exists and its level lets lines of that kind through. These never create
// the logger, so they are safe to call from code that runs while the logger is being built.
bool IsDebugLogEnabled();
bool IsInfoLogEnabled();
bool IsWarningLogEnabled();
bool IsErrorLogEnabled();

} // namespace qarn
