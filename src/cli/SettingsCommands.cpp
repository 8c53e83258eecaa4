#include "cli/SettingsCommands.h"

#include "cli/ExitStatus.h"
#include "cli/SessionSupport.h"
#include "cli/SettingsFile.h"
#include "cli/Target.h"
#include "cli/WriteSteps.h"
#include "protocol/ConverterText.h"
#include "protocol/EditRules.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>

namespace qarn::cli {

namespace {

// One converter of the file on its way: found or not, what changes, what happened.
struct ApplyItem {
    const SettingsEntry* entry = nullptr;
    // A copy of the list's record (a write may remove its row); none when it is not listed.
    std::optional<LANconvDevice> listed;
    WriteEdits changes; // the settings of the file that differ, as given
    PreparedWrite prepared;
    std::vector<std::string> diff; // "port1 4001 -> 5000"
    bool sent = false;
    bool confirmed = false;
    std::string failure;
    std::vector<std::string> open{"no answer from it since the write"};
};

std::string Label(const ApplyItem& item) {
    const std::string mac = ColonMacText(item.entry->mac);
    return !item.listed ? mac : mac + " (" + IpToText(item.listed->dwSourceIp) + ")";
}

// `write`'s option names in a reason, as the file names the settings: "--system-type" ->
// "system_type", "--port2" -> "port2".
std::string FileTerms(std::string text) {
    const auto replaceAll = [&text](const std::string& from, const std::string& to) {
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
            text.replace(at, from.size(), to);
    };
    replaceAll("--system-type", "system_type");
    replaceAll("--peer", "peer");
    replaceAll("--", "");
    return text;
}

std::string Shown(std::string_view key, const std::optional<std::string>& value) {
    if (!value)
        return "-";
    if (key == "letter")
        return value->empty() ? "none" : "'" + *value + "'";
    return *value;
}

bool ReadFile(const std::string& path, std::string& text, std::string& why) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        why = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode) || static_cast<uint64_t>(status.st_size) > kMaxSettingsFileBytes) {
        why = path + " is not a settings file (a regular file of at most " +
              std::to_string(kMaxSettingsFileBytes) + " bytes)";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        why = "cannot read " + path;
        return false;
    }
    return true;
}

// Finds each converter of the file and decides what to write, with `write`'s rules. False with
// the reason when a value is refused for its converter.
bool PlanItems(const DeviceList& list, const std::vector<SettingsEntry>& entries,
               std::vector<ApplyItem>& items, std::string& why) {
    for (const SettingsEntry& entry : entries) {
        ApplyItem item;
        item.entry = &entry;
        const std::optional<size_t> row = FindReadyRow(list, {Target::Kind::Mac, 0, entry.mac});
        if (row)
            item.listed = *list.GetRecord(*row);
        if (item.listed) {
            const WriteEdits now = OfferedSettings(*item.listed);
            for (const char* key : kSettingsKeys) {
                const std::optional<std::string>& wanted = SettingOf(entry.settings, key);
                if (wanted && wanted != SettingOf(now, key))
                    SettingOf(item.changes, key) = wanted;
            }
            std::string refused;
            if (!item.changes.Empty() &&
                !PrepareWrite(&*item.listed, entry.mac, item.changes, item.prepared, &refused)) {
                why = entry.where + " (" + Label(item) + "): " + FileTerms(refused);
                return false;
            }
            const WriteEdits after = SettingsOfWorking(item.prepared.working);
            for (const char* key : kSettingsKeys)
                if (SettingOf(item.changes, key))
                    item.diff.push_back(std::string(key) + " " + Shown(key, SettingOf(now, key)) +
                                        " -> " + Shown(key, SettingOf(after, key)));
        }
        items.push_back(std::move(item));
    }
    return true;
}

// Two converters must not end with one address, and none may move onto an address that another
// converter holds until it moves away itself. False with the reason.
bool CheckAddresses(const DeviceList& list, const std::vector<ApplyItem>& items, std::string& why) {
    struct Final {
        MacAddress mac;
        std::string who;
        uint32_t now = 0; // where it answers from now; 0 when it is not listed
        uint32_t then = 0;
    };
    std::map<MacAddress, const ApplyItem*> inFile;
    for (const ApplyItem& item : items)
        inFile[item.entry->mac] = &item;
    // Listed converters the file leaves alone first, then the file's, in its order.
    std::vector<Final> finals;
    std::map<MacAddress, uint32_t> listedAt;
    for (size_t row = 0; row < list.GetRowCount(); ++row) {
        const LANconvDevice& record = *list.GetRecord(row);
        if (!listedAt.emplace(record.abyMac, record.dwSourceIp).second)
            continue;
        if (inFile.count(record.abyMac) == 0)
            finals.push_back(
                {record.abyMac, ColonMacText(record.abyMac), record.dwSourceIp, record.dwSourceIp});
    }
    for (const ApplyItem& item : items) {
        const auto listed = listedAt.find(item.entry->mac);
        const uint32_t now = listed == listedAt.end() ? 0 : listed->second;
        const std::optional<std::string>& ip = item.entry->settings.ip;
        const uint32_t then = ip ? *ParseIpText(*ip) : now;
        if (then != 0)
            finals.push_back({item.entry->mac,
                              ColonMacText(item.entry->mac) + " (" + item.entry->where + ")", now,
                              then});
    }
    std::map<uint32_t, const Final*> endsAt;
    std::map<uint32_t, const Final*> answersAt;
    for (const Final& f : finals) {
        const auto [at, fresh] = endsAt.emplace(f.then, &f);
        if (!fresh) {
            why = at->second->who + " and " + f.who + " would both have " + IpToText(f.then);
            return false;
        }
        if (f.now != 0)
            answersAt.emplace(f.now, &f);
    }
    for (const Final& f : finals) {
        const auto holder = answersAt.find(f.then);
        if (f.then != f.now && holder != answersAt.end() && holder->second->mac != f.mac) {
            why = f.who + " would move to " + IpToText(f.then) + ", which " + holder->second->who +
                  " holds until it moves itself; change the addresses in "
                  "two steps";
            return false;
        }
    }
    return true;
}

void PrintPlan(const std::vector<ApplyItem>& items, std::ostream& out) {
    for (const ApplyItem& item : items) {
        out << Label(item) << ": ";
        if (!item.listed) {
            out << "not listed; nothing sent\n";
            continue;
        }
        if (item.diff.empty()) {
            out << "unchanged\n";
            continue;
        }
        for (size_t i = 0; i < item.diff.size(); ++i)
            out << (i == 0 ? "" : "; ") << item.diff[i];
        out << "\n";
        for (const std::string& note : item.prepared.notes)
            out << Label(item) << ": " << FileTerms(note) << "\n";
    }
}

// Waits until every sent converter shows its settings in an answer, at most `seconds`.
void Verify(ConverterSession& session, std::vector<ApplyItem>& items, double seconds) {
    const DeviceList& list = session.List();
    std::map<MacAddress, ApplyItem*> pending;
    for (ApplyItem& item : items)
        if (item.sent)
            pending[item.prepared.working.abyMac] = &item;
    session.SetAnswerHook([&](uint32_t source, AnswerDisposition disposition,
                              std::span<const uint8_t> data) {
        if (disposition != AnswerDisposition::Applied)
            return;
        const std::optional<size_t> row = list.FindRowBySource(source);
        if (!row)
            return;
        const auto item = pending.find(list.GetRecord(*row)->abyMac);
        if (item == pending.end())
            return;
        ApplyItem& written = *item->second;
        written.open = UnconfirmedSettings(written.prepared.working, written.changes, source,
                                           *list.GetRecord(*row), data[0] == 1, data.size() == 88);
        written.confirmed = written.open.empty();
        if (written.confirmed)
            pending.erase(item);
    });
    session.RunUntil(SecondsToMs(seconds), [&] { return pending.empty(); });
    session.SetAnswerHook(nullptr);
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : "; ") + part;
    return text;
}

int Conclude(const std::vector<ApplyItem>& items, const ApplyOptions& options, std::ostream& out,
             std::ostream& err) {
    std::string notDone;
    size_t failed = 0;
    for (const ApplyItem& item : items) {
        std::string problem;
        if (!item.listed)
            problem = "not listed within " + SecondsText(options.seconds);
        else if (!item.failure.empty())
            problem = item.failure;
        else if (item.sent && options.verify && !item.confirmed)
            problem =
                "not confirmed within " + SecondsText(options.seconds) + ": " + Joined(item.open);
        if (item.sent && options.verify && item.confirmed)
            out << Label(item) << ": confirmed, it answers from "
                << IpToText(item.prepared.working.dwIp) << " with the new settings\n";
        if (problem.empty())
            continue;
        if (item.listed)
            out << Label(item) << ": " << problem << "\n";
        ++failed;
        notDone += (notDone.empty() ? "" : ", ") + ColonMacText(item.entry->mac);
    }
    if (failed == 0)
        return kExitSuccess;
    return Fail(err, std::to_string(failed) + " of " + std::to_string(items.size()) +
                         " converters not written: " + notDone);
}

} // namespace

int RunExport(const EndpointOptions& endpoint, const ExportOptions& options, std::ostream& out,
              std::ostream& err) {
    ConverterSession session(endpoint.port);
    std::string why;
    if (!session.Open(&why, endpoint.broadcastInterface))
        return Fail(err, why);
    session.ListenAndSettle(SecondsToMs(options.seconds));
    const DeviceList& list = session.List();
    std::vector<SettingsEntry> entries;
    std::set<MacAddress> seen;
    std::string incomplete;
    for (size_t row = 0; row < list.GetRowCount(); ++row) {
        const LANconvDevice& record = *list.GetRecord(row);
        // The same converter at a second address (moved, its old row not yet aged out) once.
        if (!seen.insert(record.abyMac).second)
            continue;
        if (!CanOpenInEditor(record) || record.bEchoPending) {
            incomplete += (incomplete.empty() ? "" : ", ") + IpToText(record.dwSourceIp);
            continue;
        }
        entries.push_back({record.abyMac, OfferedSettings(record), {}});
    }
    out << (options.csv ? FormatSettingsCsv(entries) : FormatSettingsJson(entries)) << std::flush;
    if (!incomplete.empty())
        err << kProgramName << ": left out, their answers still incomplete: " << incomplete << "\n";
    return kExitSuccess;
}

int RunApply(const EndpointOptions& endpoint, const ApplyOptions& options, std::ostream& out,
             std::ostream& err) {
    std::string text;
    std::string why;
    if (!ReadFile(options.file, text, why))
        return Fail(err, why);
    std::vector<SettingsEntry> entries;
    if (!ParseSettingsFile(text, entries, &why))
        return Fail(err, options.file + ": " + why);

    ConverterSession session(endpoint.port);
    if (!session.Open(&why, endpoint.broadcastInterface))
        return Fail(err, why);
    const DeviceList& list = session.List();
    session.RunUntil(SecondsToMs(options.seconds), [&] {
        return std::all_of(entries.begin(), entries.end(), [&](const SettingsEntry& entry) {
            return FindReadyRow(list, {Target::Kind::Mac, 0, entry.mac}).has_value();
        });
    });
    std::vector<ApplyItem> items;
    if (!PlanItems(list, entries, items, why) || !CheckAddresses(list, items, why))
        return Fail(err, options.file + ": " + why + "; nothing sent");
    PrintPlan(items, out);
    if (options.dryRun) {
        const size_t writes = static_cast<size_t>(std::count_if(
            items.begin(), items.end(), [](const ApplyItem& i) { return !i.diff.empty(); }));
        out << "dry run: " << writes << " of " << items.size()
            << " converters would be written; nothing sent\n";
        return kExitSuccess;
    }
    for (ApplyItem& item : items) {
        if (item.diff.empty())
            continue;
        const SentWrite sent = SendPreparedWrite(session, item.prepared);
        item.sent = sent.sent;
        item.failure = sent.failure;
        for (const std::string& line : sent.lines)
            out << Label(item) << ": " << line << "\n";
    }
    out << std::flush;
    if (options.verify)
        Verify(session, items, options.seconds);
    return Conclude(items, options, out, err);
}

} // namespace qarn::cli
