#include "app/CrashDumpHandler.h"

#include "platform/CoreDump.h"
#include "platform/Process.h"
#include "platform/SystemTime.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace qarn {

namespace {

constexpr size_t kFolderCapacity = kMaxCrashDumpFolderLength + 1;
constexpr size_t kModulePathCapacity = 4096;
// Folder, '/', program path (its base name at most), '.', ten digits, ".mdmp", NUL.
constexpr size_t kFileNameCapacity = kFolderCapacity + kModulePathCapacity + 32;

// Written at installation, before other threads exist; read by the filter at crash time. Only
// the one thread that runs the filter touches the crash-time buffers.
char g_dumpFolder[kFolderCapacity];
int32_t g_dumpType = 0;
char g_modulePath[kModulePathCapacity];
char g_crashModulePath[kModulePathCapacity];
char g_fileName[kFileNameCapacity];

// Bytes of `text` kept in a buffer of `limit` bytes: all of it when it fits, else up to the last
// UTF-8 character that fits whole ("...\xC3\xA9" cut inside the two bytes keeps neither).
size_t KeptLength(const std::string& text, size_t limit) {
    if (text.size() <= limit)
        return text.size();
    size_t kept = limit;
    while (kept > 0 && (static_cast<unsigned char>(text[kept]) & 0xC0) == 0x80)
        --kept;
    return kept;
}

class NameBuilder {
  public:
    explicit NameBuilder(std::span<char> out) : m_out(out) {}

    void Append(const char* text, size_t length) {
        for (size_t i = 0; i < length; ++i)
            Put(text[i]);
    }
    void Append(const char* text) { Append(text, std::strlen(text)); }

    void AppendDecimal(uint32_t value) {
        char digits[10];
        size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0)
            Put(digits[--count]);
    }

    // Terminates the name; false when it did not fit.
    bool Finish() {
        Put('\0');
        return m_fits;
    }

  private:
    void Put(char c) {
        if (m_used < m_out.size())
            m_out[m_used++] = c;
        else
            m_fits = false;
    }

    std::span<char> m_out;
    size_t m_used = 0;
    bool m_fits = true;
};

const char* ModulePathAtCrash() {
    if (g_modulePath[0] != '\0')
        return g_modulePath;
    const ssize_t n = readlink("/proc/self/exe", g_crashModulePath, sizeof g_crashModulePath - 1);
    if (n <= 0)
        return nullptr;
    g_crashModulePath[n] = '\0';
    return g_crashModulePath;
}

} // namespace

bool FormatCrashDumpFileName(std::span<char> out, const char* folder, const char* modulePath,
                             uint32_t tickCount) {
    if (modulePath == nullptr || modulePath[0] == '\0')
        return false;
    NameBuilder name(out);
    if (folder != nullptr && folder[0] != '\0') {
        const char* slash = std::strrchr(modulePath, '/');
        if (slash == nullptr)
            return false;
        name.Append(folder);
        name.Append("/");
        name.Append(slash + 1);
    } else {
        name.Append(modulePath);
    }
    name.Append(".");
    name.AppendDecimal(tickCount);
    name.Append(".mdmp");
    return name.Finish();
}

bool StoreCrashDumpSettings(const DiagnosticsConfiguration& settings) {
    std::memset(g_dumpFolder, 0, sizeof g_dumpFolder);
    g_dumpType = settings.dumpType;
    if (!settings.dumpEnabled || settings.dumpType == 0 || settings.dumpFolder.empty())
        return false;
    std::memcpy(g_dumpFolder, settings.dumpFolder.data(),
                KeptLength(settings.dumpFolder, kMaxCrashDumpFolderLength));
    // Read now, while that is still easy; at crash time only when this failed.
    std::memset(g_modulePath, 0, sizeof g_modulePath);
    if (const auto path = platform::GetModuleFileName(); path && path->size() < kModulePathCapacity)
        std::memcpy(g_modulePath, path->data(), path->size());
    return true;
}

std::string StoredCrashDumpFolder() {
    return std::string(g_dumpFolder);
}

int32_t StoredCrashDumpType() {
    return g_dumpType;
}

bool WriteCrashDumpToFreshFile(std::span<char> name, const char* folder, const char* modulePath,
                               uint32_t tickCount, platform::CoreDumpKind kind,
                               const platform::CrashContext& context) {
    for (uint32_t n = 0; n < kCrashDumpNameTries; ++n) {
        if (!FormatCrashDumpFileName(name, folder, modulePath, tickCount + n))
            return false;
        if (platform::WriteCoreDumpFile(name.data(), kind, context))
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

void CrashDumpFilter(const platform::CrashContext& context) {
    const char* modulePath = ModulePathAtCrash();
    if (modulePath == nullptr)
        return;
    const platform::CoreDumpKind kind = g_dumpType == 2 ? platform::CoreDumpKind::AllMemory
                                                        : platform::CoreDumpKind::ThreadAndModules;
    WriteCrashDumpToFreshFile(g_fileName, g_dumpFolder, modulePath, platform::GetTickCount(), kind,
                              context);
}

bool InstallCrashDumpHandler() {
    DiagnosticsConfiguration settings;
    if (!settings.Load())
        return false;
    if (!StoreCrashDumpSettings(settings))
        return false;
    return platform::SetCrashFilter(&CrashDumpFilter);
}

} // namespace qarn
