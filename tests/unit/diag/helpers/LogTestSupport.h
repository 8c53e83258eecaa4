#pragma once

// Shared by the log file tests: temporary folders, the settings store pointed at one of them,
// and a reader that turns a log file back into its lines.

#include "diag/DiagnosticsConfiguration.h"
#include "diag/DiagnosticsValue.h"
#include "platform/Registry.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdlib.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qarn::testing {

// A folder of its own below the system's temporary folder, removed with everything in it.
class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qarn-log-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

// Points the settings store at `<folder>/registry` for the life of the object.
class ScopedRegistry {
  public:
    explicit ScopedRegistry(const TempFolder& folder) : m_root(folder / "registry") {
        std::filesystem::create_directories(m_root);
        setenv("QARN_REGISTRY_ROOT", m_root.c_str(), 1);
    }
    ~ScopedRegistry() { unsetenv("QARN_REGISTRY_ROOT"); }
    ScopedRegistry(const ScopedRegistry&) = delete;
    ScopedRegistry& operator=(const ScopedRegistry&) = delete;

  private:
    std::string m_root;
};

// Stores diagnostics settings with the log part given (crash dumps off), straight into the store:
// also values the settings writer refuses, such as an enabled log of level 0.
inline bool StoreLogSettings(bool enabled, int32_t level, const std::string& folder) {
    DiagnosticsConfiguration settings;
    settings.logEnabled = enabled;
    settings.logLevel = level;
    settings.logFolder = folder;
    const std::vector<uint8_t> value = BuildDiagnosticsValue(settings);
    platform::RegKeyHandle key = nullptr;
    if (platform::RegistryCreateKey(platform::kHKeyLocalMachine, settings.keyPath,
                                    platform::kKeyRead | platform::kKeyWrite,
                                    &key) != platform::kRegOk)
        return false;
    const bool stored =
        platform::RegistrySetValue(key, settings.valueName, platform::kRegBinary, value.data(),
                                   static_cast<uint32_t>(value.size())) == platform::kRegOk;
    platform::RegistryCloseKey(key);
    return stored;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// UTF-16LE bytes from `offset` on -> UTF-8; a lone surrogate becomes U+FFFD.
inline std::string DecodeUtf16Le(const std::vector<uint8_t>& bytes, size_t offset = 0) {
    std::string out;
    auto put = [&out](uint32_t c) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    };
    for (size_t i = offset; i + 1 < bytes.size(); i += 2) {
        const uint32_t unit = bytes[i] | (bytes[i + 1] << 8);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
            const uint32_t low = bytes[i + 2] | (bytes[i + 3] << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                put(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        put(unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
    }
    return out;
}

struct LogFile {
    bool exists = false;
    bool startsWithMark = false;
    size_t marks = 0;               // FF FE pairs at even offsets anywhere in the file
    bool oddLength = false;         // a torn code unit
    std::vector<std::string> lines; // without their line ends
    std::vector<std::string> ends;  // "\r\n" or "\n" per line; "" for an unterminated tail
};

// Splits a log file into its lines at LF; a CR before the LF belongs to the line end.
inline LogFile ReadLogFile(const std::string& path) {
    LogFile file;
    std::error_code error;
    file.exists = std::filesystem::exists(path, error);
    if (!file.exists)
        return file;
    const std::vector<uint8_t> bytes = ReadBytes(path);
    file.oddLength = bytes.size() % 2 != 0;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        file.marks += bytes[i] == 0xFF && bytes[i + 1] == 0xFE;
    file.startsWithMark = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    const std::string text = DecodeUtf16Le(bytes, file.startsWithMark ? 2 : 0);
    size_t start = 0;
    while (start < text.size()) {
        const size_t lf = text.find('\n', start);
        std::string line = text.substr(start, lf == std::string::npos ? lf : lf - start);
        std::string end = lf == std::string::npos ? "" : "\n";
        if (!end.empty() && !line.empty() && line.back() == '\r') {
            line.pop_back();
            end = "\r\n";
        }
        file.lines.push_back(line);
        file.ends.push_back(end);
        start = lf == std::string::npos ? text.size() : lf + 1;
    }
    return file;
}

struct ProgramRun {
    int exitCode = -1;
    std::string output;
};

// Starts a program through the shell with the current environment; Finish waits for it.
class RunningProgram {
  public:
    explicit RunningProgram(const std::string& command) : m_pipe(popen(command.c_str(), "r")) {}
    ~RunningProgram() { Finish(); }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    ProgramRun Finish() {
        if (m_pipe == nullptr)
            return m_run;
        char buffer[256];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_pipe)) > 0)
            m_run.output.append(buffer, n);
        const int status = pclose(m_pipe);
        m_pipe = nullptr;
        m_run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return m_run;
    }

  private:
    FILE* m_pipe;
    ProgramRun m_run;
};

} // namespace qarn::testing
