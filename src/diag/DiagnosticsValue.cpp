#include "diag/DiagnosticsValue.h"

#include "diag/CHRegKey.h"
#include "diag/FileLogger.h"
#include "platform/Registry.h"

#include <limits>

namespace qarn {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

// Length of the UTF-8 sequence that starts with `lead`, 0 for a byte that cannot start one.
size_t SequenceLength(uint8_t lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Decodes one sequence at `pos` strictly (no overlong forms, no surrogates, nothing past
// U+10FFFF). Returns the bytes used, 0 when the bytes there are not valid UTF-8.
size_t DecodeUtf8(const std::string& text, size_t pos, uint32_t& codePoint) {
    const auto lead = static_cast<uint8_t>(text[pos]);
    const size_t length = SequenceLength(lead);
    if (length == 0 || text.size() - pos < length)
        return 0;
    if (length == 1) {
        codePoint = lead;
        return 1;
    }
    codePoint = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<uint8_t>(text[pos + i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        codePoint = codePoint << 6 | (next & 0x3Fu);
    }
    const uint32_t smallest = length == 3 ? 0x800 : 0x10000;
    if ((length > 2 && codePoint < smallest) || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

// "Ä:" -> C4 00 3A 00. A byte that does not begin valid UTF-8 becomes U+FFFD; `valid` tells
// whether that happened.
std::vector<uint16_t> ToUtf16(const std::string& text, bool* valid = nullptr) {
    std::vector<uint16_t> units;
    bool clean = true;
    for (size_t pos = 0; pos < text.size();) {
        uint32_t codePoint = 0;
        const size_t used = DecodeUtf8(text, pos, codePoint);
        if (used == 0) {
            codePoint = kReplacement;
            clean = false;
        }
        pos += used == 0 ? 1 : used;
        if (codePoint >= 0x10000) {
            units.push_back(static_cast<uint16_t>(0xD800 + ((codePoint - 0x10000) >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<uint16_t>(codePoint));
        }
    }
    if (valid != nullptr)
        *valid = clean;
    return units;
}

void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// Byte count (terminating NUL included), the code units, the NUL.
void PutText(std::vector<uint8_t>& out, const std::vector<uint16_t>& units) {
    PutLe32(out, static_cast<uint32_t>(2 * (units.size() + 1)));
    for (const uint16_t unit : units) {
        out.push_back(static_cast<uint8_t>(unit));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

// A folder text the value can carry unchanged: valid UTF-8 without NUL (a NUL would end the
// stored text early and make the whole value invalid).
std::string FolderTextProblem(const char* what, const std::string& folder) {
    bool valid = true;
    ToUtf16(folder, &valid);
    if (!valid || folder.find('\0') != std::string::npos)
        return std::string(what) + " is not valid UTF-8 text without NUL";
    return {};
}

bool Fail(std::string* error, const std::string& reason, const char* function) {
    if (error != nullptr)
        *error = reason;
    if (IsErrorLogEnabled())
        LogError(std::string(function) + ": " + reason);
    return false;
}

std::string StoreFailure(const char* action, const std::string& where, platform::RegStatus status) {
    return std::string("cannot ") + action + " '" + where +
           "': " + platform::RegistryStatusText(status) + " (" + std::to_string(status) + ")";
}

} // namespace

std::vector<uint8_t> BuildDiagnosticsValue(const DiagnosticsConfiguration& settings) {
    const std::vector<uint16_t> dump = ToUtf16(settings.dumpFolder);
    const std::vector<uint16_t> log = ToUtf16(settings.logFolder);
    // length, flag, type, dump record, flag, level, log record
    const size_t size =
        4 + 1 + 4 + (4 + 2 * (dump.size() + 1)) + 1 + 4 + (4 + 2 * (log.size() + 1));
    if (size > std::numeric_limits<uint32_t>::max())
        return {}; // its length field could not count it
    std::vector<uint8_t> value;
    value.reserve(size);
    PutLe32(value, static_cast<uint32_t>(size));
    value.push_back(settings.dumpEnabled ? 1 : 0);
    PutLe32(value, static_cast<uint32_t>(settings.dumpType));
    PutText(value, dump);
    value.push_back(settings.logEnabled ? 1 : 0);
    PutLe32(value, static_cast<uint32_t>(settings.logLevel));
    PutText(value, log);
    return value;
}

bool WriteDiagnosticsValue(const DiagnosticsConfiguration& settings, std::string* error) {
    constexpr const char* kFunction = "WriteDiagnosticsValue";
    if (settings.keyPath.empty() || settings.valueName.empty())
        return Fail(error, "no key path or value name to store the settings under", kFunction);
    for (const std::string& problem :
         {FolderTextProblem("dump folder", settings.dumpFolder),
          FolderTextProblem("log folder", settings.logFolder), settings.ValidationProblem()}) {
        if (!problem.empty())
            return Fail(error, problem, kFunction);
    }
    const std::vector<uint8_t> value = BuildDiagnosticsValue(settings);
    if (value.empty() || value.size() > platform::kRegMaxValueSize)
        return Fail(error,
                    "the settings need more than the store's " +
                        std::to_string(platform::kRegMaxValueSize) + " bytes per value",
                    kFunction);

    platform::RegKeyHandle handle = nullptr;
    platform::RegStatus status = platform::RegistryCreateKey(
        platform::kHKeyLocalMachine, settings.keyPath,
        platform::kKeyRead | platform::kKeyWrite | platform::kKeyWow64_64Key, &handle);
    if (status != platform::kRegOk)
        return Fail(error, StoreFailure("create key", settings.keyPath, status), kFunction);
    CHRegKey key(handle);
    status = platform::RegistrySetValue(key.Get(), settings.valueName, platform::kRegBinary,
                                        value.data(), static_cast<uint32_t>(value.size()));
    if (status != platform::kRegOk)
        return Fail(
            error,
            StoreFailure("store value", settings.keyPath + "\\" + settings.valueName, status),
            kFunction);
    return true;
}

bool ClearDiagnosticsValue(std::string* error) {
    constexpr const char* kFunction = "ClearDiagnosticsValue";
    const DiagnosticsConfiguration defaults;
    platform::RegKeyHandle handle = nullptr;
    platform::RegStatus status =
        platform::RegistryOpenKey(platform::kHKeyLocalMachine, defaults.keyPath,
                                  platform::kKeySetValue | platform::kKeyWow64_64Key, &handle);
    if (status == platform::kRegFileNotFound)
        return true; // no key, so no value
    if (status != platform::kRegOk)
        return Fail(error, StoreFailure("open key", defaults.keyPath, status), kFunction);
    CHRegKey key(handle);
    status = platform::RegistryDeleteValue(key.Get(), defaults.valueName);
    if (status != platform::kRegOk && status != platform::kRegFileNotFound)
        return Fail(
            error,
            StoreFailure("remove value", defaults.keyPath + "\\" + defaults.valueName, status),
            kFunction);
    return true;
}

} // namespace qarn
