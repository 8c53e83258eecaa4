#include "cli/DiagnosticsCommands.h"

#include "cli/ExitStatus.h"
#include "diag/CHRegKey.h"
#include "diag/DiagnosticsValue.h"
#include "platform/ByteOrder.h"
#include "platform/Console.h"
#include "platform/Registry.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace qarn::cli {

namespace {

// Why a value that DiagnosticsConfiguration::ParseLayout refused breaks the layout, for people.
std::string LayoutProblem(const std::vector<uint8_t>& value) {
    if (value.size() < 5)
        return "the value has only " + std::to_string(value.size()) + " bytes";
    const uint32_t length = platform::GetLe32(value.data());
    if (length != value.size())
        return "its length field says " + std::to_string(length) + " bytes, the value has " +
               std::to_string(value.size());
    return "a field or folder record is cut off or malformed";
}

StoredDiagnostics Unreadable(const std::string& what, platform::RegStatus status) {
    StoredDiagnostics stored;
    stored.state = StoredDiagnostics::State::Unreadable;
    stored.problem = "cannot " + what + ": " + platform::RegistryStatusText(status);
    return stored;
}

const char* LevelName(int32_t level) {
    switch (level) {
    case 1:
        return "errors";
    case 2:
        return "warnings";
    case 3:
        return "information";
    case 4:
        return "debug";
    default:
        return "unknown";
    }
}

const char* DumpTypeName(int32_t type) {
    switch (type) {
    case 1:
        return "normal";
    case 2:
        return "full memory";
    default:
        return "unknown";
    }
}

std::string GroupLine(const char* label, bool enabled, const std::string& setting,
                      const std::string& folder) {
    std::string line = label;
    if (enabled)
        return line + "on, " + setting + ", folder " + folder + "\n";
    line += "off";
    if (!folder.empty())
        line += " (folder " + folder + " kept)";
    return line + "\n";
}

std::string Absolute(const std::string& folder) {
    if (folder.empty())
        return folder;
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(folder, error);
    return error ? folder : path.string();
}

// Both facilities as the settings switch them, or "not set" / "invalid: ..." lines.
void PrintStored(const StoredDiagnostics& stored, std::ostream& out) {
    switch (stored.state) {
    case StoredDiagnostics::State::NotSet:
        out << "not set (logging and crash dumps off)\n";
        return;
    case StoredDiagnostics::State::Valid:
        out << DescribeDiagnostics(stored.settings);
        return;
    case StoredDiagnostics::State::Invalid:
        out << "invalid: " << stored.problem << " (logging and crash dumps off)\n";
        if (stored.decoded)
            out << DescribeDiagnostics(stored.settings);
        return;
    case StoredDiagnostics::State::Unreadable:
        return;
    }
}

} // namespace

StoredDiagnostics ReadStoredDiagnostics() {
    StoredDiagnostics stored;
    platform::RegKeyHandle handle = nullptr;
    platform::RegStatus status =
        platform::RegistryOpenKey(platform::kHKeyLocalMachine, stored.settings.keyPath,
                                  platform::kKeyRead | platform::kKeyWow64_64Key, &handle);
    if (status == platform::kRegFileNotFound)
        return stored;
    if (status != platform::kRegOk)
        return Unreadable("open key '" + stored.settings.keyPath + "'", status);
    CHRegKey key(handle);

    const std::string& name = stored.settings.valueName;
    uint32_t type = 0;
    uint32_t size = 0;
    status = platform::RegistryQueryValue(key.Get(), name, &type, nullptr, &size);
    if (status == platform::kRegFileNotFound)
        return stored;
    if (status == platform::kRegCorrupt) {
        stored.state = StoredDiagnostics::State::Invalid;
        stored.problem = "the store's file for the value is damaged";
        return stored;
    }
    if (status != platform::kRegOk)
        return Unreadable("read value '" + name + "'", status);
    std::vector<uint8_t> value(size);
    status = platform::RegistryQueryValue(key.Get(), name, &type, value.data(), &size);
    if (status != platform::kRegOk)
        return Unreadable("read value '" + name + "'", status);
    value.resize(size);

    stored.state = StoredDiagnostics::State::Invalid;
    if (type != platform::kRegBinary) {
        stored.problem = "the value is of type " + std::to_string(type) + ", not binary";
    } else if (!stored.settings.ParseLayout(value.data(), value.size())) {
        stored.problem = LayoutProblem(value);
    } else {
        stored.decoded = true;
        stored.problem = stored.settings.ValidationProblem();
        if (stored.problem.empty())
            stored.state = StoredDiagnostics::State::Valid;
    }
    return stored;
}

bool ApplyDiagnosticsChange(DiagnosticsConfiguration& settings, const DiagnosticsChange& change,
                            std::string* problem) {
    if (change.logLevel) {
        settings.logEnabled = *change.logLevel != 0;
        settings.logLevel = *change.logLevel;
    }
    if (change.logFolder)
        settings.logFolder = Absolute(*change.logFolder);
    if (change.dumpType) {
        settings.dumpEnabled = *change.dumpType != 0;
        settings.dumpType = *change.dumpType;
    }
    if (change.dumpFolder)
        settings.dumpFolder = Absolute(*change.dumpFolder);
    const std::string reason = settings.ValidationProblem();
    if (problem != nullptr)
        *problem = reason;
    return reason.empty();
}

std::string DescribeDiagnostics(const DiagnosticsConfiguration& settings) {
    const std::string level =
        "level " + std::to_string(settings.logLevel) + " (" + LevelName(settings.logLevel) + ")";
    const std::string type =
        "type " + std::to_string(settings.dumpType) + " (" + DumpTypeName(settings.dumpType) + ")";
    return GroupLine("log:  ", settings.logEnabled, level, settings.logFolder) +
           GroupLine("dump: ", settings.dumpEnabled, type, settings.dumpFolder);
}

int ShowDiagnostics(std::ostream& out, std::ostream& err) {
    const StoredDiagnostics stored = ReadStoredDiagnostics();
    if (stored.state == StoredDiagnostics::State::Unreadable)
        return Fail(err, stored.problem);
    PrintStored(stored, out);
    return kExitSuccess;
}

// A folder every user may write, without the sticky bit, lets any of them replace the files a
// program makes there (links, files of their own); the programs refuse to use such files, and
// the logs and dumps are then lost.
void WarnAboutOpenFolder(const char* what, const std::string& folder, std::ostream& err) {
    if (!platform::IsFolderOpenToEveryone(folder))
        return;
    err << kProgramName << ": warning: the " << what << " folder " << folder
        << " can be written by every user and has no sticky bit: another user could put links "
           "or files of their own in place of the program's (chmod o-w or +t the folder)\n";
}

int SetDiagnostics(const DiagnosticsChange& change, std::ostream& out, std::ostream& err) {
    const StoredDiagnostics stored = ReadStoredDiagnostics();
    if (stored.state == StoredDiagnostics::State::Unreadable)
        return Fail(err, stored.problem);
    // A value whose layout is broken keeps nothing worth carrying over: start from all off.
    DiagnosticsConfiguration settings;
    if (stored.decoded)
        settings = stored.settings;
    std::string problem;
    if (!ApplyDiagnosticsChange(settings, change, &problem))
        return Fail(err, "not written: " + problem);
    if (!WriteDiagnosticsValue(settings, &problem))
        return Fail(err, "not written: " + problem);
    out << DescribeDiagnostics(settings);
    if (settings.logEnabled)
        WarnAboutOpenFolder("log", settings.logFolder, err);
    if (settings.dumpEnabled)
        WarnAboutOpenFolder("dump", settings.dumpFolder, err);
    return kExitSuccess;
}

int ClearDiagnostics(std::ostream& out, std::ostream& err) {
    std::string problem;
    if (!ClearDiagnosticsValue(&problem))
        return Fail(err, "not cleared: " + problem);
    out << "cleared (logging and crash dumps off)\n";
    return kExitSuccess;
}

} // namespace qarn::cli
