#include "diag/DiagnosticsValue.h"

#include "diag/CHRegKey.h"
#include "diag/FileLogger.h"
#include "platform/ByteOrder.h"
#include "platform/Registry.h"
#include "platform/TextCodec.h"

#include <limits>

namespace qarn {

namespace {

// Byte count (terminating NUL included), the code units, the NUL.
void PutText(std::vector<uint8_t>& out, const std::u16string& units) {
    platform::AppendLe32(out, static_cast<uint32_t>(2 * (units.size() + 1)));
    for (const char16_t unit : units)
        platform::AppendLe16(out, unit);
    platform::AppendLe16(out, 0);
}

// A folder text the value can carry unchanged: valid UTF-8 without NUL (a NUL would end the
// stored text early and make the whole value invalid).
std::string FolderTextProblem(const char* what, const std::string& folder) {
    bool wellFormed = true;
    platform::Utf8ToUtf16(folder, &wellFormed);
    if (!wellFormed || folder.find('\0') != std::string::npos)
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
    const std::u16string dump = platform::Utf8ToUtf16(settings.dumpFolder);
    const std::u16string log = platform::Utf8ToUtf16(settings.logFolder);
    // length, flag, type, dump record, flag, level, log record
    const size_t size =
        4 + 1 + 4 + (4 + 2 * (dump.size() + 1)) + 1 + 4 + (4 + 2 * (log.size() + 1));
    if (size > std::numeric_limits<uint32_t>::max())
        return {}; // its length field could not count it
    std::vector<uint8_t> value;
    value.reserve(size);
    platform::AppendLe32(value, static_cast<uint32_t>(size));
    value.push_back(settings.dumpEnabled ? 1 : 0);
    platform::AppendLe32(value, static_cast<uint32_t>(settings.dumpType));
    PutText(value, dump);
    value.push_back(settings.logEnabled ? 1 : 0);
    platform::AppendLe32(value, static_cast<uint32_t>(settings.logLevel));
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
