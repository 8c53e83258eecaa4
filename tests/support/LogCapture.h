#pragma once

// The log facility pointed at a private folder, every level on, for tests that check log lines:
//
//     qarn::test::LogCapture log;                       // before the code under test logs
//     endpoint.Read(10001);
//     EXPECT_EQ(qarn::test::CountOf(log.Text(),
//               "ERROR   - CUDPSocket::Read: nTimeout is too large(got:10001 ms max:10000
//               ms)\r\n"), 1u) << log.Text();
//
// Lines in Text() carry the logger's level prefix ("DEBUG   - ", "INFO    - ", "WARNING - ",
// "ERROR   - ") and end in "\r\n". One capture at a time per process: the facility is global.

#include "diag/DiagnosticsConfiguration.h"
#include "diag/DiagnosticsValue.h"
#include "diag/FileLogger.h"
#include "platform/TextCodec.h"
#include "support/TempDir.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace qarn::test {

class LogCapture {
  public:
    LogCapture() {
        DiagnosticsConfiguration settings;
        settings.logEnabled = true;
        settings.logLevel = 4;
        settings.logFolder = m_temp.Path().string();
        std::string error;
        EXPECT_TRUE(WriteDiagnosticsValue(settings, &error)) << error;
        InitFileLoggerFacility();
    }
    ~LogCapture() { ShutdownFileLoggerFacility(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything logged so far, as UTF-8.
    std::string Text() const {
        std::string text;
        for (const auto& entry : std::filesystem::directory_iterator(m_temp.Path())) {
            if (entry.path().extension() != ".txt")
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
            std::u16string units;
            for (size_t i = 0; i + 1 < bytes.size(); i += 2)
                units.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                                      static_cast<uint8_t>(bytes[i + 1]) << 8));
            text += platform::Utf16ToUtf8(units);
        }
        return text;
    }

  private:
    TempDir m_temp{"qarn-log-capture"};
    ScopedRegistryRoot m_store{m_temp};
};

// How often `part` occurs in `text` (overlapping occurrences count).
inline size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

} // namespace qarn::test
