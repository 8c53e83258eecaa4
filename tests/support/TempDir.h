#pragma once

// Test fixture pieces: a private temporary folder, and the settings store pointed into it. Both
// are members of a fixture, declared in this order so that the store is let go before its folder:
//
//     qarn::test::TempDir m_temp{"qarn-diag"};
//     qarn::test::ScopedRegistryRoot m_store{m_temp};
//
// A piece that cannot be set up throws; GoogleTest then fails the test before its body runs,
// instead of letting it write into whatever folder happens to be current.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <string_view>
#include <system_error>

namespace qarn::test {

// The whole content of the file at `path`; empty when it cannot be read.
inline std::string ReadTextFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh folder below the system's temporary folder ("/tmp/qarn-diag-Ab12Cd"), removed with
// everything in it when the object goes.
class TempDir {
  public:
    explicit TempDir(std::string_view prefix = "qarn") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a temporary folder " + pattern + ": " +
                                     std::strerror(errno));
        m_path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::filesystem::path& name) const {
        return m_path / name;
    }

  private:
    std::filesystem::path m_path;
};

// Points the settings store (QARN_REGISTRY_ROOT) at the folder `<dir>/<name>`, made here, for the
// life of the object; afterwards the variable says again what it said before, or is unset again.
class ScopedRegistryRoot {
  public:
    explicit ScopedRegistryRoot(const TempDir& dir, std::string_view name = "registry")
        : m_root(dir / name) {
        if (const char* previous = std::getenv(kVariable))
            m_previous = previous;
        std::filesystem::create_directories(m_root);
        if (setenv(kVariable, m_root.c_str(), 1) != 0)
            throw std::runtime_error(std::string("cannot set ") + kVariable + ": " +
                                     std::strerror(errno));
    }
    ~ScopedRegistryRoot() {
        if (m_previous)
            setenv(kVariable, m_previous->c_str(), 1);
        else
            unsetenv(kVariable);
    }
    ScopedRegistryRoot(const ScopedRegistryRoot&) = delete;
    ScopedRegistryRoot& operator=(const ScopedRegistryRoot&) = delete;

    // The store's own folder; the machine keys lie below Root() / "HKLM".
    const std::filesystem::path& Root() const { return m_root; }

  private:
    static constexpr const char* kVariable = "QARN_REGISTRY_ROOT";

    std::filesystem::path m_root;
    std::optional<std::string> m_previous;
};

} // namespace qarn::test
