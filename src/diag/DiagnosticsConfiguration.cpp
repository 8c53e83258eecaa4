#include "diag/DiagnosticsConfiguration.h"

#include "diag/CMyByteArray.h"
#include "diag/RegistryAccess.h"
#include "platform/ByteOrder.h"
#include "platform/TextCodec.h"

#include <utility>

namespace qarn {

namespace {

constexpr size_t kLengthFieldSize = 4;

// Reads the value front to back; every read checks that its bytes lie inside the value.
class ValueReader {
  public:
    ValueReader(const uint8_t* data, size_t size, size_t pos)
        : m_data(data), m_size(size), m_pos(pos) {}

    bool Byte(uint8_t& out) {
        if (m_size - m_pos < 1)
            return false;
        out = m_data[m_pos++];
        return true;
    }

    bool Le32(uint32_t& out) {
        if (m_size - m_pos < 4)
            return false;
        out = platform::GetLe32(m_data + m_pos);
        m_pos += 4;
        return true;
    }

    // A byte count N, then N bytes of UTF-16LE text whose only NUL is its last code unit:
    // 06 00 00 00 'C' 00 ':' 00 00 00 -> "C:". N = 0 leaves no room for the NUL and is refused;
    // so is an odd N, whose terminating code unit would reach past the record.
    bool Text(std::string& out) {
        uint32_t count = 0;
        if (!Le32(count) || count == 0 || count % 2 != 0 || count > m_size - m_pos)
            return false;
        // The text without its terminator; a lone surrogate has no UTF-8 form and becomes U+FFFD.
        std::u16string text(count / 2 - 1, u'\0');
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char16_t>(platform::GetLe16(m_data + m_pos + 2 * i));
        if (text.find(u'\0') != std::u16string::npos)
            return false; // NUL before the end
        if (platform::GetLe16(m_data + m_pos + count - 2) != 0)
            return false;
        m_pos += count;
        out = platform::Utf16ToUtf8(text);
        return true;
    }

  private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos;
};

} // namespace

DiagnosticsConfiguration::DiagnosticsConfiguration()
    : keyPath("SOFTWARE\\qarn\\Diagnostics"), valueName("Configuration") {}

void DiagnosticsConfiguration::Reset() {
    dumpEnabled = false;
    dumpType = 0;
    dumpFolder.clear();
    logEnabled = false;
    logLevel = 0;
    logFolder.clear();
}

bool DiagnosticsConfiguration::Load() {
    Reset();
    CMyByteArray value;
    if (!ReadRegistryBinary(keyPath, valueName, value))
        return false;
    return Parse(value.Data(), value.Size());
}

bool DiagnosticsConfiguration::Parse(const uint8_t* data, size_t size) {
    return ParseLayout(data, size) && Validate();
}

bool DiagnosticsConfiguration::ParseLayout(const uint8_t* data, size_t size) {
    Reset();
    if (data == nullptr || size < kLengthFieldSize + 1)
        return false;
    ValueReader reader(data, size, 0);
    uint32_t length = 0;
    if (!reader.Le32(length) || length != size)
        return false;

    uint8_t dumpFlag = 0;
    uint32_t type = 0;
    std::string dumpText;
    uint8_t logFlag = 0;
    uint32_t level = 0;
    std::string logText;
    if (!reader.Byte(dumpFlag) || !reader.Le32(type) || !reader.Text(dumpText) ||
        !reader.Byte(logFlag) || !reader.Le32(level) || !reader.Text(logText))
        return false;
    // Bytes after the log folder (counted by the length field) are left for later additions.

    dumpEnabled = dumpFlag != 0;
    dumpType = static_cast<int32_t>(type);
    dumpFolder = std::move(dumpText);
    logEnabled = logFlag != 0;
    logLevel = static_cast<int32_t>(level);
    logFolder = std::move(logText);
    return true;
}

bool DiagnosticsConfiguration::Validate() const {
    return ValidationProblem().empty();
}

std::string DiagnosticsConfiguration::ValidationProblem() const {
    if (dumpEnabled) {
        if (dumpType != 1 && dumpType != 2)
            return "dump type " + std::to_string(dumpType) + " is not 1 or 2";
        if (dumpFolder.empty())
            return "dump folder is empty";
        if (!PathExists(dumpFolder))
            return "dump folder '" + dumpFolder + "' does not exist";
    }
    if (logEnabled) {
        if (logLevel < 1 || logLevel > 4)
            return "log level " + std::to_string(logLevel) + " is not 1 to 4";
        if (logFolder.empty())
            return "log folder is empty";
        if (!PathExists(logFolder))
            return "log folder '" + logFolder + "' does not exist";
    }
    return {};
}

} // namespace qarn
