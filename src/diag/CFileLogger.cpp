#include "diag/CFileLogger.h"

#include "platform/ByteOrder.h"
#include "platform/FileOps.h"
#include "platform/Process.h"
#include "platform/SystemTime.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <thread>
#include <vector>

namespace qarn {

namespace {

using platform::FileMutex;

// The status a timed-out wait reports on the debug output, the same number log readers know.
constexpr int kWaitTimeout = 258;
constexpr char kFallbackMutexName[] = "Global\\qarnTAVOSLoggerInst";
constexpr uint8_t kByteOrderMark[] = {0xFF, 0xFE};
std::atomic<void (*)()> g_settingsReadHook{nullptr};

std::vector<uint8_t> ToLittleEndianBytes(const std::u16string& line) {
    std::vector<uint8_t> bytes;
    bytes.reserve(line.size() * 2);
    for (const char16_t unit : line)
        platform::AppendLe16(bytes, unit);
    return bytes;
}

// "tool.exe" -> "tool", "my.tool.exe" -> "my".
std::string FileStem(const std::string& moduleBaseName) {
    return moduleBaseName.substr(0, moduleBaseName.find('.'));
}

// "Global\\tool.exe" -> "tool.exe.lock": the mutex name without its namespace.
std::string LockFileName(const std::string& mutexName) {
    const size_t slash = mutexName.rfind('\\');
    return mutexName.substr(slash == std::string::npos ? 0 : slash + 1) + ".lock";
}

// The local time as "20261210231500".
std::string RotationSuffix() {
    const platform::SystemTime now = platform::GetLocalTime();
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, "%04u%02u%02u%02u%02u%02u",
                                unsigned{now.year}, unsigned{now.month}, unsigned{now.day},
                                unsigned{now.hour}, unsigned{now.minute}, unsigned{now.second});
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

} // namespace

// The lock file's lock belongs to the process's one open file, not to a thread, and it is no fair
// lock between processes either. This queue hands the turn at it to the threads of this process
// strictly in order of arrival (a thread that has just let go cannot take it again before a
// waiter that was there first), so that only one thread per process competes for the lock
// itself. The 10 ms bound covers the wait here and there together.
class CFileLogger::WriterQueue {
  public:
    using Clock = std::chrono::steady_clock;

    // True when it is this thread's turn before `deadline`. The thread whose turn it is may enter
    // again, as a kernel mutex lets its owner lock again; only the outermost turn takes the lock
    // file's lock (IsOutermost).
    bool Enter(Clock::time_point deadline) {
        std::unique_lock lock(m_lock);
        const auto self = std::this_thread::get_id();
        if (m_depth > 0 && m_owner == self) {
            ++m_depth;
            return true;
        }
        if (m_depth == 0 && m_waiting.empty()) {
            Take(self);
            return true;
        }
        Waiter me;
        m_waiting.push_back(&me);
        if (me.wake.wait_until(lock, deadline, [&me] { return me.granted; }))
            return true; // Leave made this thread the owner
        std::erase(m_waiting, &me);
        return false;
    }

    // Called by the thread whose turn it is: this turn is not inside another one of its own.
    bool IsOutermost() {
        std::lock_guard lock(m_lock);
        return m_depth == 1;
    }

    void Leave() {
        std::lock_guard lock(m_lock);
        if (m_depth == 0 || --m_depth > 0)
            return;
        if (m_waiting.empty())
            return;
        // Handed over directly, so the leaving thread cannot take the turn again at once.
        Waiter* next = m_waiting.front();
        m_waiting.pop_front();
        Take(next->self);
        next->granted = true;
        next->wake.notify_one();
    }

  private:
    struct Waiter {
        std::condition_variable wake;
        std::thread::id self = std::this_thread::get_id();
        bool granted = false;
    };

    void Take(std::thread::id owner) {
        m_owner = owner;
        m_depth = 1;
    }

    std::mutex m_lock;
    std::deque<Waiter*> m_waiting;
    std::thread::id m_owner;
    int m_depth = 0;
};

std::recursive_mutex& CFileLogger::FacilityLock() {
    // Never destroyed: a thread that logs while the process ends must still find it.
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

CFileLogger::CFileLogger()
    : m_writers(std::make_unique<WriterQueue>()), m_strDebugPrefix("DEBUG   - "),
      m_strInfoPrefix("INFO    - "), m_strWarningPrefix("WARNING - "),
      m_strErrorPrefix("ERROR   - ") {
    const auto moduleName = platform::GetModuleBaseName();
    m_strMutexName = moduleName ? "Global\\" + *moduleName : std::string(kFallbackMutexName);
    if (!BuildLogFilePath())
        return;
    // The lock file lives beside the log, so it is needed only when there is one. On failure the
    // mutex stays closed: every acquisition then fails and its line is dropped.
    m_strLockFilePath =
        m_strLogFilePath.substr(0, m_strLogFilePath.rfind('/') + 1) + LockFileName(m_strMutexName);
    switch (m_mutex.Open(m_strLockFilePath)) {
    case FileMutex::OpenResult::AlreadyExists:
        platform::OutputDebugString("CFileLogger::CFileLogger(): Info: '" + m_strMutexName +
                                    "' Mutex already exists\n");
        break;
    case FileMutex::OpenResult::Failed:
        platform::OutputDebugString("CFileLogger::CFileLogger(): Error: '" + m_strLockFilePath +
                                    "' cannot be used as the lock file: " + std::to_string(errno) +
                                    "\n");
        break;
    case FileMutex::OpenResult::Created:
        break;
    }
    RotateIfNeeded();
}

void CFileLogger::SetSettingsReadHook(void (*hook)()) {
    g_settingsReadHook.store(hook);
}

CFileLogger::~CFileLogger() {
    if (m_mutex.IsOpen() && !m_mutex.Close()) {
        platform::OutputDebugString("CloseHandle() on '" + m_strMutexName +
                                    "' Mutex failed with error: " + std::to_string(errno) + "\n");
    }
    m_strLogFilePath.clear();
    m_strLockFilePath.clear();
    m_strMutexName.clear();
    m_config.Reset();
}

bool CFileLogger::BuildLogFilePath() {
    std::lock_guard guard(FacilityLock());
    const bool loaded = m_config.Load();
    if (auto* hook = g_settingsReadHook.load())
        hook();
    const bool usable = loaded && m_config.logEnabled && m_config.logLevel >= 0 &&
                        m_config.logLevel <= 4 && platform::PathExists(m_config.logFolder);
    const auto moduleName = usable ? platform::GetModuleBaseName() : std::nullopt;
    if (!moduleName) {
        // Logging is off for the whole run: nothing may claim a level.
        m_strLogFilePath.clear();
        m_config.Reset();
        return false;
    }
    std::string path = m_config.logFolder;
    if (path.back() != '/')
        path.push_back('/');
    m_strLogFilePath = path + FileStem(*moduleName) + ".txt";
    return true;
}

void CFileLogger::Debug(const char* text) {
    if (text != nullptr)
        WriteLine(4, m_strDebugPrefix, text, "\r\n");
}
void CFileLogger::Info(const char* text) {
    if (text != nullptr)
        WriteLine(3, m_strInfoPrefix, text, "\r\n");
}
void CFileLogger::Warning(const char* text) {
    if (text != nullptr)
        WriteLine(2, m_strWarningPrefix, text, "\r\n");
}
void CFileLogger::Error(const char* text) {
    if (text != nullptr)
        WriteLine(1, m_strErrorPrefix, text, "\n");
}
void CFileLogger::Debug(const std::string& text) {
    WriteLine(4, m_strDebugPrefix, text, "\r\n");
}
void CFileLogger::Info(const std::string& text) {
    WriteLine(3, m_strInfoPrefix, text, "\r\n");
}
void CFileLogger::Warning(const std::string& text) {
    WriteLine(2, m_strWarningPrefix, text, "\r\n");
}
void CFileLogger::Error(const std::string& text) {
    WriteLine(1, m_strErrorPrefix, text, "\n");
}

void CFileLogger::WriteLine(int threshold, const std::string& prefix, std::string_view text,
                            const char* lineEnd) {
    if (!m_config.logEnabled || m_config.logLevel < threshold)
        return;
    std::string line = FormatThreadId();
    line += ' ';
    line += FormatTimestamp();
    line += prefix;
    line += text;
    line += lineEnd;
    AppendToFile(platform::Utf8ToUtf16(line));
}

std::string CFileLogger::FormatThreadId() const {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "[0x%08x]", platform::GetCurrentThreadId());
    return buffer;
}

std::string CFileLogger::FormatTimestamp() const {
    const platform::SystemTime t = platform::GetLocalTime();
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04u.%02u.%02u %02u:%02u:%02u.%03u - ", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.milliseconds);
    return buffer;
}

bool CFileLogger::IsMutexFree() {
    using namespace std::chrono;
    const auto deadline = WriterQueue::Clock::now() + milliseconds(kMutexWaitMs);
    FileMutex::LockResult result = FileMutex::LockResult::Timeout;
    if (m_writers->Enter(deadline)) {
        if (!m_writers->IsOutermost())
            return true; // the lock is this thread's already
        // What is left of the 10 ms, rounded up so that the whole wait is never shorter.
        const auto left = ceil<milliseconds>(deadline - WriterQueue::Clock::now());
        result = m_mutex.TimedLock(static_cast<uint32_t>(std::max<int64_t>(left.count(), 0)));
        if (result == FileMutex::LockResult::Acquired)
            return true;
        const int error = errno;
        m_writers->Leave();
        errno = error;
    }
    const int code = result == FileMutex::LockResult::Timeout ? kWaitTimeout : errno;
    platform::OutputDebugString("CFileLogger::IsMutexFree(): WaitForSingleObject() returns: " +
                                std::to_string(code) + "\n");
    return false;
}

bool CFileLogger::FreeMutex() {
    platform::OutputDebugString(
        "CFileLogger::FreeMutex(): ReleaseMutex() returns: " + std::to_string(errno) + "\n");
    return false;
}

void CFileLogger::ReleaseMutex() {
    // Let go of the lock before the turn, so that the next thread of this process never finds it
    // still held by its own process's file.
    bool released = true;
    int error = 0;
    if (m_writers->IsOutermost()) {
        released = m_mutex.Unlock();
        error = errno;
    }
    m_writers->Leave();
    if (!released) {
        errno = error;
        FreeMutex();
    }
}

bool CFileLogger::RotateIfNeeded() {
    if (m_strLogFilePath.empty())
        return false;
    // A look without the mutex settles the common case (not full) without making other writers
    // wait; a full file is measured again under the mutex before it is moved.
    if (platform::FileSize(m_strLogFilePath).value_or(0) < kRotateSize)
        return true;
    if (!IsMutexFree())
        return true; // no rotation this time; the next line tries again
    const bool result = RotateLocked();
    ReleaseMutex();
    return result;
}

// Measuring and moving under one ownership of the mutex: another process cannot move the file in
// between, so a full file is moved once and a fresh one never follows it as an empty rotated file.
bool CFileLogger::RotateLocked() {
    // A file that cannot be examined counts as empty.
    const int64_t size = platform::FileSize(m_strLogFilePath).value_or(0);
    if (size < kRotateSize)
        return true;
    const std::string rotated = m_strLogFilePath + "_" + RotationSuffix();
    // Never over an existing file: then the line goes on into the full one and the next tries
    // again.
    if (!platform::MoveFileNoReplace(m_strLogFilePath, rotated))
        return false;
    return platform::CreateNewFile(m_strLogFilePath);
}

void CFileLogger::AppendToFile(const std::u16string& line) {
    if (line.empty() || !m_config.logEnabled)
        return;
    RotateIfNeeded();
    const std::vector<uint8_t> bytes = ToLittleEndianBytes(line);
    // Opening and closing happen outside the mutex, which then guards little more than the one
    // write: the shorter others wait, the fewer lines run out of their 10 ms.
    platform::AppendFile file;
    file.Open(m_strLogFilePath);
    if (!IsMutexFree())
        return;
    // Moved aside by a rotation in the meantime: the line belongs in the new file.
    if (!file.IsStill(m_strLogFilePath))
        file.Open(m_strLogFilePath);
    // A file that cannot be opened or written loses the line silently.
    if (file.IsOpen())
        file.Append(kByteOrderMark, bytes);
    ReleaseMutex();
}

} // namespace qarn
