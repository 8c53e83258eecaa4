#pragma once

// Shared by the log file tests: settings stored for the logger, a reader that turns a log file
// back into its lines, and a way to run the log driver. Folders and the store come from
// support/TempDir.h.

#include "diag/DiagnosticsConfiguration.h"
#include "diag/DiagnosticsValue.h"
#include "platform/ByteOrder.h"
#include "platform/Registry.h"
#include "platform/TextCodec.h"
#include "support/RawDiagnostics.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qarn::testing {

// Stores diagnostics settings with the log part given (crash dumps off), straight into the store:
// also values the settings writer refuses, such as an enabled log of level 0.
inline bool StoreLogSettings(bool enabled, int32_t level, const std::string& folder) {
    DiagnosticsConfiguration settings;
    settings.logEnabled = enabled;
    settings.logLevel = level;
    settings.logFolder = folder;
    return test::StoreRawDiagnostics(settings);
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

// UTF-16LE bytes from `offset` on -> UTF-8; a lone surrogate becomes U+FFFD, an odd last byte
// is left out.
inline std::string DecodeUtf16Le(const std::vector<uint8_t>& bytes, size_t offset = 0) {
    std::u16string units;
    for (size_t i = offset; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(platform::GetLe16(bytes.data() + i)));
    return platform::Utf16ToUtf8(units);
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
