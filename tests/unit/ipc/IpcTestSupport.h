#pragma once

// What the local-messaging tests share: a mailslot folder and queue ids of their own, so that
// tests running side by side (and a real service of the same user) never meet, and a bounded wait.

#include "support/TempDir.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

namespace qarn::test {

// Points QARN_MAILSLOT_DIR at a fresh private folder for the life of the object.
class ScopedMailslotFolder {
  public:
    ScopedMailslotFolder() { setenv("QARN_MAILSLOT_DIR", m_folder.Path().c_str(), 1); }
    ~ScopedMailslotFolder() { unsetenv("QARN_MAILSLOT_DIR"); }
    ScopedMailslotFolder(const ScopedMailslotFolder&) = delete;
    ScopedMailslotFolder& operator=(const ScopedMailslotFolder&) = delete;

    const std::filesystem::path& Path() const { return m_folder.Path(); }

  private:
    TempDir m_folder{"qarn-mailslot"};
};

// "qarnTest-<pid>-<name>": distinct per test process.
inline std::string UniqueQueueId(const std::string& name) {
    return "qarnTest-" + std::to_string(getpid()) + "-" + name;
}

// Polls `done` every millisecond until it holds or `limit` passes; its last answer.
template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace qarn::test
