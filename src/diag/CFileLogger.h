#pragma once

#include "diag/DiagnosticsConfiguration.h"
#include "platform/FileMutex.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include <boost/noncopyable.hpp>

namespace qarn {

// The program's one log file: UTF-16LE lines in <logFolder>/<program stem>.txt, shared by every
// process of the same program file through the mutex "Global\" + program file name. The mutex is
// the lock file <logFolder>/<program file name>.lock (platform::FileMutex): a lock the kernel
// keeps, so no other user can write its state or hold it, and a process that dies holding it lets
// go. The log file itself is only ever a regular file of this user, never reached through a link.
// The diagnostics settings are read once, at construction; without valid settings nothing is
// written and no file is made. The logger tells of its own troubles only on the debug output.
//
// One line, e.g. an INFO line "abc" of thread 0xf3c at 14:05:09.042 on 8 March 2017:
//     [0x00000f3c] 2017.03.08 14:05:09.042 - INFO    - abc<CR><LF>
// ERROR lines end in LF alone. A file that is empty gets the byte-order mark FF FE first.
//
// After construction the fields are only read, so any thread may log without an in-process lock;
// each line takes the mutex (at most 10 ms wait, else the line is dropped).
class CFileLogger : private boost::noncopyable {
  public:
    // Files reaching this size (bytes) are moved aside before the next line.
    static constexpr int64_t kRotateSize = 8388608;
    // Longest wait (ms) for the mutex; a line that cannot get it in time is dropped.
    static constexpr uint32_t kMutexWaitMs = 10;

    CFileLogger();
    virtual ~CFileLogger();

    // The process's logger, built on first use while the facility is initialised; null when it is
    // not, and on the thread that is building it (settings code may log while it is being read).
    // The pointer stays valid until ShutdownFileLoggerFacility; the Log functions are safe even
    // against a shutdown running at the same time.
    static CFileLogger* GetInstance();

    // One line at that level; nothing for a null text or when the configured level is below the
    // level's threshold (Debug 4, Info 3, Warning 2, Error 1). Texts are UTF-8; each ill-formed
    // part of one is written as U+FFFD.
    void Debug(const char* text);
    void Info(const char* text);
    void Warning(const char* text);
    void Error(const char* text);
    void Debug(const std::string& text);
    void Info(const std::string& text);
    void Warning(const std::string& text);
    void Error(const std::string& text);

    // Takes the mutex, waiting at most kMutexWaitMs; true when the caller now owns it (also when
    // a dead owner left it).
    bool IsMutexFree();
    // Tells the debug output that releasing the mutex failed; always false.
    bool FreeMutex();

    // Appends one finished line (rotating first when the file is full). Dropped when the mutex
    // cannot be had or the file cannot be opened.
    void AppendToFile(const std::u16string& line);
    // Moves a file of kRotateSize bytes or more to "<path>_YYYYmmddHHMMSS" (local time) and
    // starts an empty one. False when logging is off or the move failed (the target exists).
    bool RotateIfNeeded();
    // Loads the settings and forms the file path; false (and the settings cleared) when logging
    // is off: no valid settings, logging disabled, folder missing.
    bool BuildLogFilePath();

    // "[0x00000f3c]": the calling thread's id, 8 lower-case hex digits.
    std::string FormatThreadId() const;
    // "2017.03.08 14:05:09.042 - ": the local time, ending in the separator to the level.
    std::string FormatTimestamp() const;

    const std::string& LogFilePath() const { return m_strLogFilePath; }
    const std::string& MutexName() const { return m_strMutexName; }
    // The mutex's lock file beside the log; empty while logging is off.
    const std::string& LockFilePath() const { return m_strLockFilePath; }
    const DiagnosticsConfiguration& Configuration() const { return m_config; }

    // Runs `hook` on the building thread right after the settings were read during construction,
    // where the settings code may itself log; tests use it to check that such logging is
    // harmless. Null (the default) runs nothing.
    static void SetSettingsReadHook(void (*hook)());

  private:
    friend void InitFileLoggerFacility();
    friend void ShutdownFileLoggerFacility();

    // The lock that guards building and destroying the instance; recursive, never destroyed.
    static std::recursive_mutex& FacilityLock();

    class WriterQueue;

    void WriteLine(int threshold, const std::string& prefix, std::string_view text,
                   const char* lineEnd);
    bool RotateLocked();
    void ReleaseMutex();

    std::string m_strLogFilePath;
    std::string m_strLockFilePath;
    platform::FileMutex m_mutex;
    std::unique_ptr<WriterQueue>
        m_writers; // this process's turns at m_mutex, first come first served
    std::string m_strMutexName;
    std::string m_strDebugPrefix;
    std::string m_strInfoPrefix;
    std::string m_strWarningPrefix;
    std::string m_strErrorPrefix;
    DiagnosticsConfiguration m_config;
};

} // namespace qarn
