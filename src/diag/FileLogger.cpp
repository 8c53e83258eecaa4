#include "diag/FileLogger.h"

#include "diag/CFileLogger.h"
#include "platform/Process.h"

#include <atomic>
#include <thread>

// The facility: one logger per process, built at initialisation and destroyed at shutdown, used by
// any thread in between. The free functions count themselves in while they may hold the instance,
// so that shutdown destroys it only after the last such call has finished its line. Callers count
// in the current one of two generations; shutdown takes the instance away, switches generation and
// waits for the old one to empty, so a stream of new callers cannot keep it waiting. All atomics
// use the default sequentially consistent order: a caller that still saw the instance has counted
// itself in before shutdown took it away, and shutdown then waits for it.

namespace qarn {

namespace {

std::atomic<bool> g_initialised{false};
std::atomic<CFileLogger*> g_instance{nullptr};
std::atomic<int> g_generation{0};
std::atomic<int> g_users[2] = {0, 0};
// Set while this thread builds the logger: the settings code it runs may log, and that must
// neither build a second logger nor wait for itself.
thread_local bool t_building = false;

class UseGuard {
  public:
    UseGuard() : m_users(g_users[g_generation.load()]) { m_users.fetch_add(1); }
    ~UseGuard() { m_users.fetch_sub(1); }
    UseGuard(const UseGuard&) = delete;
    UseGuard& operator=(const UseGuard&) = delete;

  private:
    std::atomic<int>& m_users;
};

// Returns once every caller that may still hold the instance taken away before has finished.
void WaitForEarlierUsers() {
    const int old = g_generation.fetch_xor(1);
    while (g_users[old].load() != 0)
        std::this_thread::yield();
}

std::string ContextName() {
    return platform::GetModuleBaseName().value_or("ModuleBaseName not readable");
}

// The published logger only: level tests never build one.
int PublishedLevel() {
    UseGuard use;
    const CFileLogger* logger = g_instance.load();
    return logger != nullptr ? logger->Configuration().logLevel : 0;
}

template <typename Text>
void LogAt(void (CFileLogger::*write)(Text), Text text) {
    UseGuard use;
    if (CFileLogger* logger = CFileLogger::GetInstance())
        (logger->*write)(text);
}

} // namespace

CFileLogger* CFileLogger::GetInstance() {
    if (t_building || !g_initialised.load())
        return nullptr;
    if (CFileLogger* logger = g_instance.load())
        return logger;
    std::lock_guard guard(FacilityLock());
    if (!g_initialised.load())
        return nullptr;
    CFileLogger* logger = g_instance.load();
    if (logger == nullptr) {
        struct BuildingMark {
            BuildingMark() { t_building = true; }
            ~BuildingMark() { t_building = false; }
        } mark;
        logger = new CFileLogger();
        g_instance.store(logger);
    }
    return logger;
}

void InitFileLoggerFacility() {
    UseGuard use;
    CFileLogger* logger = nullptr;
    {
        std::lock_guard guard(CFileLogger::FacilityLock());
        if (g_initialised.load())
            return;
        g_initialised.store(true);
        logger = CFileLogger::GetInstance();
    }
    if (logger != nullptr)
        logger->Debug("FileLogger facility initialized for context: " + ContextName());
}

void ShutdownFileLoggerFacility() {
    CFileLogger* logger = nullptr;
    {
        std::lock_guard guard(CFileLogger::FacilityLock());
        if (!g_initialised.load())
            return;
        if (CFileLogger* current = g_instance.load())
            current->Debug("FileLogger facility destroyed for context: " + ContextName());
        g_initialised.store(false);
        logger = g_instance.exchange(nullptr);
    }
    WaitForEarlierUsers();
    delete logger;
}

void LogDebug(const char* text) {
    LogAt<const char*>(&CFileLogger::Debug, text);
}
void LogInfo(const char* text) {
    LogAt<const char*>(&CFileLogger::Info, text);
}
void LogWarning(const char* text) {
    LogAt<const char*>(&CFileLogger::Warning, text);
}
void LogError(const char* text) {
    LogAt<const char*>(&CFileLogger::Error, text);
}
void LogDebug(const std::string& text) {
    LogAt<const std::string&>(&CFileLogger::Debug, text);
}
void LogInfo(const std::string& text) {
    LogAt<const std::string&>(&CFileLogger::Info, text);
}
void LogWarning(const std::string& text) {
    LogAt<const std::string&>(&CFileLogger::Warning, text);
}
void LogError(const std::string& text) {
    LogAt<const std::string&>(&CFileLogger::Error, text);
}

bool IsDebugLogEnabled() {
    return PublishedLevel() > 3;
}
bool IsInfoLogEnabled() {
    return PublishedLevel() > 2;
}
bool IsWarningLogEnabled() {
    return PublishedLevel() > 1;
}
bool IsErrorLogEnabled() {
    return PublishedLevel() > 0;
}

} // namespace qarn
