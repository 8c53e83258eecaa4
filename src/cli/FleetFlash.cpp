#include "cli/FleetFlash.h"

#include "cli/ExitStatus.h"
#include "cli/FlashPlan.h"
#include "cli/SessionSupport.h"
#include "cli/Target.h"
#include "firmware/CLtxTransfer.h"
#include "firmware/CSam4Transfer.h"
#include "firmware/FirmwareModule.h"
#include "firmware/SharedFirmwareEndpoint.h"
#include "protocol/ConverterText.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

namespace qarn::cli {

namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;

// With --all, how long discovery listens before it takes the list as it is: the first request
// goes out at once, and converters answer within a second (discover's default listens as long).
constexpr std::chrono::milliseconds kListenAll{3000};

enum class Verdict { Updated, Failed, Refused, NotFound, UpToDate };

const char* VerdictText(Verdict verdict) {
    switch (verdict) {
    case Verdict::Updated:
        return "updated";
    case Verdict::Failed:
        return "failed";
    case Verdict::Refused:
        return "refused";
    case Verdict::NotFound:
        return "not found";
    case Verdict::UpToDate:
        return "up to date";
    }
    return "failed";
}

// One converter of the fleet, from its finding to its verdict.
struct Member {
    std::string name; // its address, or the target as given when it was not found
    LANconvDevice record;
    FlashPlan plan;
    bool planned = false;
    Verdict verdict = Verdict::Failed;
    std::string reason; // why it is not updated; empty when it is
    TransferResult transfer;
    int attemptsUsed = 0;
    uint32_t newVersion = 0;
    bool timed = false;
    Clock::time_point started;
    Clock::time_point ended;
    size_t lane = 0;
};

double SecondsOf(const Member& member) {
    if (!member.timed)
        return 0.0;
    return std::chrono::duration<double>(member.ended - member.started).count();
}

std::string OneDecimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

bool KindMatches(const LANconvDevice& record, const std::string& kind) {
    if (kind.empty())
        return true;
    return record.nKind == (kind == "standard" ? kKindStandard : kKindExtended);
}

// ---- finding and planning -------------------------------------------------------------------

Member Planned(const LANconvDevice& record, bool all) {
    Member member;
    member.name = IpToText(record.dwSourceIp);
    member.record = record;
    std::string why;
    if (PlanFlash(record, ProgramModule(), member.plan, &why)) {
        member.planned = true;
        return member;
    }
    // With --all, a converter that already has the newest image is done, not refused.
    const bool upToDate =
        member.plan.imageVersion != 0 && member.plan.imageVersion <= record.dwFirmwareVersion;
    member.verdict = all && upToDate ? Verdict::UpToDate : Verdict::Refused;
    member.reason = why;
    return member;
}

// Every listed converter that is ready (of the kind asked for); waits for the list to fill and
// for the rows seen to be ready, at most `seconds`.
std::vector<Member> FindAll(ConverterSession& session, const FlashOptions& options) {
    const DeviceList& list = session.List();
    const auto limit = SecondsToMs(options.seconds);
    session.RunUntil(std::min(limit, kListenAll), [] { return false; });
    const auto allReady = [&] {
        for (size_t row = 0; row < list.GetRowCount(); ++row) {
            const LANconvDevice& record = *list.GetRecord(row);
            if (!record.bComplete || record.bEchoPending)
                return false;
        }
        return true;
    };
    if (limit > kListenAll)
        session.RunUntil(limit - kListenAll, allReady);
    std::vector<Member> members;
    for (size_t row = 0; row < list.GetRowCount(); ++row) {
        const LANconvDevice& record = *list.GetRecord(row);
        if (!KindMatches(record, options.kind))
            continue;
        if (record.bComplete && !record.bEchoPending) {
            members.push_back(Planned(record, true));
            continue;
        }
        Member member;
        member.name = IpToText(record.dwSourceIp);
        member.record = record;
        member.verdict = Verdict::NotFound;
        member.reason =
            NotReadyReason(list, {Target::Kind::Ip, record.dwSourceIp, {}}, options.seconds);
        members.push_back(member);
    }
    return members;
}

// The targets given, each found and planned, or not found with the reason. A converter named
// twice (by address and by MAC address) is updated once.
std::vector<Member> FindTargets(ConverterSession& session, const std::vector<Target>& targets,
                                double seconds) {
    const DeviceList& list = session.List();
    session.RunUntil(SecondsToMs(seconds), [&] {
        return std::all_of(targets.begin(), targets.end(), [&](const Target& target) {
            return FindReadyRow(list, target).has_value();
        });
    });
    std::vector<Member> members;
    std::set<MacAddress> seen;
    for (const Target& target : targets) {
        const std::optional<size_t> row = FindReadyRow(list, target);
        if (!row) {
            Member member;
            member.name = TargetText(target);
            member.verdict = Verdict::NotFound;
            member.reason = NotReadyReason(list, target, seconds);
            members.push_back(member);
            continue;
        }
        const LANconvDevice& record = *list.GetRecord(*row);
        if (seen.insert(record.abyMac).second)
            members.push_back(Planned(record, false));
    }
    return members;
}

// ---- transfers --------------------------------------------------------------------------------

// {"event": <event>, "converter": <name>} followed by the members of `more`.
Json Event(const char* event, const Member& member, const Json& more = Json::object()) {
    Json object = {{"event", event}, {"converter", member.name}};
    object.update(more);
    return object;
}

TransferResult RunEngine(const Member& member, const FirmwareTransferEnvironment& environment,
                         IProgressDisplay& display, bool waitForRestart) {
    TransferResult result;
    const std::span<const uint8_t> image(member.plan.image);
    if (member.plan.choice.engine == FirmwareEngine::Ltx)
        CLtxTransfer(environment).Run(member.name, image, &display, waitForRestart, true, &result);
    else
        CSam4Transfer(environment).Run(member.name, image, &display, waitForRestart, true, &result);
    return result;
}

const char* TransferVerdictText(TransferVerdict verdict) {
    switch (verdict) {
    case TransferVerdict::Done:
        return "done";
    case TransferVerdict::Unconfirmed:
        return "unconfirmed";
    case TransferVerdict::Failed:
        break;
    }
    return "failed";
}

// One converter's transfer, started over while attempts are left; on a worker thread.
void TransferOne(Member& member, const FirmwareTransferEnvironment& environment,
                 const FlashOptions& options, FleetProgress& progress) {
    if (member.attemptsUsed == 0) {
        member.timed = true;
        member.started = Clock::now();
    }
    progress.SetState(member.lane, "transferring",
                      options.waitForRestart ? "waiting for its restart" : "");
    for (;;) {
        ++member.attemptsUsed;
        member.transfer =
            RunEngine(member, environment, progress.Display(member.lane), options.waitForRestart);
        if (member.transfer.verdict != TransferVerdict::Failed ||
            member.attemptsUsed >= options.attempts)
            break;
        const std::string reason = member.transfer.reason;
        progress.Note(member.lane,
                      "attempt " + std::to_string(member.attemptsUsed) + " of " +
                          std::to_string(options.attempts) + " failed: " + reason +
                          "; starting over from the first block",
                      Event("retry", member,
                            Json{{"attempt", member.attemptsUsed},
                                 {"attempts", options.attempts},
                                 {"reason", reason}}));
        progress.SetState(member.lane, "transferring",
                          options.waitForRestart ? "waiting for its restart" : "");
    }
    const TransferResult& result = member.transfer;
    Json event = Event("transferred", member);
    event["verdict"] = TransferVerdictText(result.verdict);
    if (!result.reason.empty())
        event["reason"] = result.reason;
    if (result.verdict == TransferVerdict::Failed) {
        const uint64_t total = member.plan.image.size();
        const TransferOutcome outcome{
            result.started, result.percent, total * static_cast<uint64_t>(result.percent) / 100,
            total,          result.reason,  false};
        member.verdict = Verdict::Failed;
        member.reason = TransferFailureReason(member.name, outcome);
        member.ended = Clock::now();
        progress.Note(member.lane, "failed: " + member.reason, event);
        progress.EndLane(member.lane, "failed");
        return;
    }
    // Its own time: the version is confirmed for the whole fleet at once, after the last transfer.
    member.ended = Clock::now();
    progress.Note(member.lane,
                  result.verdict == TransferVerdict::Done
                      ? std::string("transfer done") +
                            (options.waitForRestart ? "; restarted and answers echo again" : "")
                      : "transfer not confirmed: " + result.reason +
                            "; the firmware it reports now decides",
                  event);
    progress.EndLane(member.lane, "");
}

// Runs the transfers of `which` over one shared endpoint, `parallel` at a time.
void TransferAll(std::vector<Member>& members, const std::vector<size_t>& which,
                 const FlashOptions& options, FleetProgress& progress) {
    SharedFirmwareEndpoint shared;
    if (!shared.Open()) {
        for (const size_t index : which) {
            Member& member = members[index];
            member.verdict = Verdict::Failed;
            member.reason = "the transfer to " + member.name + " could not begin: UDP port " +
                            std::to_string(SharedFirmwareEndpoint::kPort) +
                            " could not be opened (is another program using it?)";
            progress.EndLane(member.lane, "failed");
        }
        return;
    }
    const FirmwareTransferEnvironment environment = shared.MakeEnvironment();
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t at = next++; at < which.size(); at = next++)
            TransferOne(members[which[at]], environment, options, progress);
    };
    const size_t workers = std::min(which.size(), static_cast<size_t>(options.parallel));
    std::vector<std::thread> threads;
    for (size_t i = 0; i < workers; ++i)
        threads.emplace_back(work);
    for (std::thread& thread : threads)
        thread.join();
}

// ---- the new versions -------------------------------------------------------------------------

// Discovers afresh until each converter of `which` (known by its MAC address) reports another
// firmware version than before, at most `seconds`. Those that do are updated; the others keep
// the reason in `member.reason` and stay Failed. Before it returns with `retryAfter` set, the
// answers to the last request are let settle, so that a transfer can follow.
void ConfirmVersions(const EndpointOptions& endpoint, std::vector<Member>& members,
                     const std::vector<size_t>& which, double seconds, bool retryAfter,
                     FleetProgress& progress) {
    ConverterSession session(endpoint.port);
    std::string why;
    const bool open = session.Open(&why, endpoint.broadcastInterface);
    std::set<size_t> pending(which.begin(), which.end());
    const DeviceList& list = session.List();
    const auto confirmed = [&] {
        for (auto it = pending.begin(); it != pending.end();) {
            Member& member = members[*it];
            const std::optional<size_t> row = list.FindRowByMac(member.record.abyMac);
            const LANconvDevice* now = row ? list.GetRecord(*row) : nullptr;
            if (now == nullptr || !now->bComplete || now->dwFirmwareVersion == 0 ||
                now->dwFirmwareVersion == member.record.dwFirmwareVersion) {
                ++it;
                continue;
            }
            member.newVersion = now->dwFirmwareVersion;
            member.verdict = Verdict::Updated;
            member.reason.clear();
            progress.Note(
                member.lane, "now has firmware " + VersionText(member.newVersion),
                Event("version", member, Json{{"firmware", VersionText(member.newVersion)}}));
            progress.EndLane(member.lane, "updated");
            it = pending.erase(it);
        }
        return pending.empty();
    };
    if (open)
        session.RunUntil(SecondsToMs(seconds), confirmed);
    for (const size_t index : pending) {
        Member& member = members[index];
        const std::string lead =
            member.transfer.verdict == TransferVerdict::Done
                ? "the transfer was acknowledged, but "
                : "the transfer was not confirmed (" + member.transfer.reason + "), and ";
        const std::optional<size_t> row =
            open ? list.FindRowByMac(member.record.abyMac) : std::nullopt;
        const LANconvDevice* now = row ? list.GetRecord(*row) : nullptr;
        if (!open)
            member.reason = lead + why + " to see the new firmware";
        else if (now == nullptr || now->dwFirmwareVersion == 0)
            member.reason =
                lead + member.name + " did not report its firmware within " + SecondsText(seconds);
        else
            member.reason = lead + member.name + " still reports firmware " +
                            VersionText(now->dwFirmwareVersion) + " after " + SecondsText(seconds);
        member.verdict = Verdict::Failed;
        member.ended = Clock::now();
    }
    if (open && retryAfter && !pending.empty())
        LetAnswersSettle(session);
}

// ---- the summary ------------------------------------------------------------------------------

std::string Padded(std::string text, size_t width) {
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

std::vector<std::array<std::string, 5>> SummaryRows(const std::vector<Member>& members) {
    std::vector<std::array<std::string, 5>> rows;
    rows.push_back({"converter", "old", "new", "verdict", "seconds"});
    for (const Member& member : members) {
        const uint32_t old = member.record.dwFirmwareVersion;
        rows.push_back({member.name, old != 0 ? VersionText(old) : "-",
                        member.newVersion != 0 ? VersionText(member.newVersion) : "-",
                        VerdictText(member.verdict),
                        member.timed ? OneDecimal(SecondsOf(member)) : "-"});
    }
    return rows;
}

void PrintSummaryTable(const std::vector<Member>& members, std::ostream& out) {
    const auto rows = SummaryRows(members);
    std::array<size_t, 5> width{};
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c)
            width[c] = std::max(width[c], row[c].size());
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            // The seconds are right-aligned under their heading.
            const bool right = c + 1 == row.size();
            line += right ? std::string(width[c] - row[c].size(), ' ') + row[c]
                          : Padded(row[c], width[c]) + "  ";
        }
        out << line << "\n";
    }
    for (const Member& member : members)
        if (!member.reason.empty() && member.verdict != Verdict::Updated)
            out << member.name << ": " << member.reason << "\n";
}

Json ResultObject(const Member& member) {
    Json object = Event("result", member);
    object["mac"] = member.record.dwSourceIp != 0 ? ColonMacText(member.record.abyMac) : "";
    object["old"] = member.record.dwFirmwareVersion != 0
                        ? Json(VersionText(member.record.dwFirmwareVersion))
                        : Json(nullptr);
    object["new"] = member.newVersion != 0 ? Json(VersionText(member.newVersion)) : Json(nullptr);
    object["verdict"] = VerdictText(member.verdict);
    object["seconds"] = member.timed ? Json(std::stod(OneDecimal(SecondsOf(member)))) : Json();
    object["attempts"] = member.attemptsUsed;
    if (!member.reason.empty())
        object["reason"] = member.reason;
    return object;
}

bool Succeeded(const Member& member) {
    return member.verdict == Verdict::Updated || member.verdict == Verdict::UpToDate;
}

int Conclude(const std::vector<Member>& members, FleetProgress& progress, double seconds,
             std::ostream& out, std::ostream& err) {
    progress.Finish();
    std::map<Verdict, size_t> counts;
    std::string notUpdated;
    for (const Member& member : members) {
        ++counts[member.verdict];
        if (!Succeeded(member))
            notUpdated += (notUpdated.empty() ? "" : ", ") + member.name;
    }
    if (progress.Form() == FleetOutput::Json) {
        for (const Member& member : members)
            progress.Emit(ResultObject(member));
        Json summary = {{"event", "summary"}, {"converters", members.size()}};
        for (const Verdict verdict : {Verdict::Updated, Verdict::Failed, Verdict::Refused,
                                      Verdict::NotFound, Verdict::UpToDate}) {
            std::string key = VerdictText(verdict);
            std::replace(key.begin(), key.end(), ' ', '_');
            summary[key] = counts[verdict];
        }
        summary["seconds"] = std::stod(OneDecimal(seconds));
        progress.Emit(summary);
    } else {
        PrintSummaryTable(members, out);
    }
    out << std::flush;
    const size_t failed = members.size() - counts[Verdict::Updated] - counts[Verdict::UpToDate];
    if (failed == 0)
        return kExitSuccess;
    return Fail(err, std::to_string(failed) + " of " + std::to_string(members.size()) +
                         " converters not updated: " + notUpdated);
}

std::vector<size_t> Indices(const std::vector<Member>& members,
                            const std::function<bool(const Member&)>& take) {
    std::vector<size_t> which;
    for (size_t i = 0; i < members.size(); ++i)
        if (take(members[i]))
            which.push_back(i);
    return which;
}

void AnnouncePlans(std::vector<Member>& members, const FlashOptions& options,
                   FleetProgress& progress) {
    for (Member& member : members) {
        if (!member.planned)
            continue;
        member.lane = progress.AddLane(member.name, member.plan.image.size());
        const std::string from = VersionText(member.record.dwFirmwareVersion);
        const std::string to = VersionText(member.plan.imageVersion);
        progress.Print("updating " + member.name + " (" + ColonMacText(member.record.abyMac) +
                       ") from firmware " + from + " to " + to + " (image " +
                       std::to_string(member.plan.choice.imageId) + ")" +
                       (options.waitForRestart ? ", then waiting for its restart" : ""));
        progress.Emit(Event("plan", member,
                            Json{{"mac", ColonMacText(member.record.abyMac)},
                                 {"from", from},
                                 {"to", to},
                                 {"image", member.plan.choice.imageId}}));
    }
}

// Transfers, then the new versions; converters that did not report one start over while their
// attempts last.
void RunRounds(const EndpointOptions& endpoint, std::vector<Member>& members,
               const FlashOptions& options, FleetProgress& progress) {
    std::vector<size_t> round = Indices(members, [](const Member& m) { return m.planned; });
    while (!round.empty()) {
        TransferAll(members, round, options, progress);
        std::vector<size_t> sent;
        for (const size_t index : round)
            if (members[index].transfer.verdict != TransferVerdict::Failed)
                sent.push_back(index);
        const bool retry = std::any_of(sent.begin(), sent.end(), [&](size_t i) {
            return members[i].attemptsUsed < options.attempts;
        });
        if (!sent.empty())
            ConfirmVersions(endpoint, members, sent, options.seconds, retry, progress);
        round.clear();
        for (const size_t index : sent) {
            Member& member = members[index];
            if (member.verdict == Verdict::Updated || member.attemptsUsed >= options.attempts)
                continue;
            progress.Note(member.lane,
                          "attempt " + std::to_string(member.attemptsUsed) + " of " +
                              std::to_string(options.attempts) + " failed: " + member.reason +
                              "; starting over from the first block",
                          Event("retry", member,
                                Json{{"attempt", member.attemptsUsed},
                                     {"attempts", options.attempts},
                                     {"reason", member.reason}}));
            round.push_back(index);
        }
    }
}

} // namespace

int CheckFleetOptions(const EndpointOptions& endpoint, const FlashOptions& options,
                      std::ostream& err) {
    if (options.all && !options.targets.empty())
        return UsageError(err, "flash: give converters or --all, not both");
    if (!options.all && options.targets.empty())
        return UsageError(err, "flash: give the converters to update, or --all");
    if (!options.kind.empty() && !options.all)
        return UsageError(err, "flash: --kind chooses among --all; leave it out with targets");
    if (options.viaService)
        return UsageError(err, "flash: --via-service carries one transfer at a time; give one "
                               "converter, or leave it out to update several at once over this "
                               "program's own endpoint");
    for (const std::string& text : options.targets)
        if (!ParseTarget(text))
            return UsageError(err, "'" + text + "' is not an IPv4 or MAC address");
    return CheckFlashBasics(endpoint, options, err);
}

int RunFleetFlash(const EndpointOptions& endpoint, const FlashOptions& options, FleetOutput form,
                  std::ostream& out, std::ostream& err, int terminalRows) {
    if (const int status = CheckFleetOptions(endpoint, options, err); status != kExitSuccess)
        return status;
    const Clock::time_point begin = Clock::now();
    std::vector<Member> members;
    {
        ConverterSession session(endpoint.port);
        std::string why;
        if (!session.Open(&why, endpoint.broadcastInterface))
            return Fail(err, why);
        std::vector<Target> targets;
        for (const std::string& text : options.targets)
            targets.push_back(*ParseTarget(text));
        members = options.all ? FindAll(session, options)
                              : FindTargets(session, targets, options.seconds);
        if (members.empty())
            return Fail(err, "no converter" +
                                 (options.kind.empty() ? "" : " of kind " + options.kind) +
                                 " answered within " + SecondsText(options.seconds));
        if (std::any_of(members.begin(), members.end(), [](const Member& m) { return m.planned; }))
            LetAnswersSettle(session);
    }
    FleetProgress progress(out, form, terminalRows);
    AnnouncePlans(members, options, progress);
    RunRounds(endpoint, members, options, progress);
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return Conclude(members, progress, seconds, out, err);
}

} // namespace qarn::cli
