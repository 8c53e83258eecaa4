#include "cli/ConverterSession.h"
#include "cli/ExitStatus.h"
#include "cli/NetworkCommands.h"
#include "cli/SessionSupport.h"
#include "cli/Target.h"
#include "cli/WriteSteps.h"
#include "protocol/ConverterText.h"

#include <algorithm>

namespace qarn::cli {

namespace {

// How long a MAC address target may take to show up in the list before it counts as a converter
// that is not listed (and is written by MAC address): the first discovery request goes out at
// once, answers come within a second, a new converter's echo takes up to one more.
constexpr double kUnlistedMacWaitSeconds = 3.0;

// Finds the target and prepares the working copy; false after printing why.
bool Prepare(ConverterSession& session, const Target& target, const WriteOptions& options,
             PreparedWrite& prepared, std::ostream& err, int& status) {
    const DeviceList& list = session.List();
    const double wait = target.kind == Target::Kind::Mac
                            ? std::min(options.seconds, kUnlistedMacWaitSeconds)
                            : options.seconds;
    session.RunUntil(SecondsToMs(wait), [&] { return FindReadyRow(list, target).has_value(); });
    const std::optional<size_t> row = FindTargetRow(list, target);
    if (target.kind == Target::Kind::Ip && !row) {
        status = Fail(err, NotReadyReason(list, target, wait));
        return false;
    }
    if (row && !FindReadyRow(list, target)) {
        status = Fail(err, NotReadyReason(list, target, wait));
        return false;
    }
    std::string why;
    if (!PrepareWrite(row ? list.GetRecord(*row) : nullptr, target.mac, options.edits, prepared,
                      &why)) {
        status = Fail(err, why);
        return false;
    }
    return true;
}

// Sends through the write decision; false after printing why nothing (or nothing whole) went.
bool Send(ConverterSession& session, const PreparedWrite& prepared, std::ostream& out,
          std::ostream& err, int& status) {
    const SentWrite sent = SendPreparedWrite(session, prepared);
    if (!sent.sent) {
        status = Fail(err, sent.failure);
        return false;
    }
    for (const std::string& line : sent.lines)
        out << line << "\n";
    return true;
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : "; ") + part;
    return text;
}

// Waits for an answer of the written converter that shows the settings; the exit status.
int Verify(ConverterSession& session, const PreparedWrite& prepared, const WriteOptions& options,
           std::ostream& out, std::ostream& err) {
    const DeviceList& list = session.List();
    const LANconvDevice& written = prepared.working;
    bool confirmed = false;
    std::vector<std::string> open{"no answer from it since the write"};
    session.SetAnswerHook(
        [&](uint32_t source, AnswerDisposition disposition, std::span<const uint8_t> data) {
            if (disposition != AnswerDisposition::Applied)
                return;
            const std::optional<size_t> row = list.FindRowBySource(source);
            if (!row || list.GetRecord(*row)->abyMac != written.abyMac)
                return;
            const bool configuration = data[0] == 1; // an applied datagram of type 1 is a setting
            open = UnconfirmedSettings(written, options.edits, source, *list.GetRecord(*row),
                                       configuration, data.size() == 88);
            confirmed = open.empty();
        });
    session.RunUntil(SecondsToMs(options.seconds), [&] { return confirmed; });
    session.SetAnswerHook(nullptr);
    if (!confirmed)
        return Fail(err,
                    "not confirmed within " + SecondsText(options.seconds) + ": " + Joined(open));
    out << "confirmed: " << ColonMacText(written.abyMac) << " answers from "
        << IpToText(written.dwIp) << " with the new settings\n";
    return kExitSuccess;
}

} // namespace

int RunWrite(const EndpointOptions& endpoint, const WriteOptions& options, std::ostream& out,
             std::ostream& err) {
    const std::optional<Target> target = ParseTarget(options.target);
    if (!target)
        return UsageError(err, "'" + options.target + "' is not an IPv4 or MAC address");
    if (options.edits.Empty())
        return UsageError(err, "write: give at least one setting (see --help)");
    ConverterSession session(endpoint.port);
    std::string why;
    if (!session.Open(&why, endpoint.broadcastInterface))
        return Fail(err, why);
    PreparedWrite prepared;
    int status = kExitFailure;
    if (!Prepare(session, *target, options, prepared, err, status))
        return status;
    for (const std::string& note : prepared.notes)
        out << note << "\n";
    if (!Send(session, prepared, out, err, status))
        return status;
    if (!options.verify)
        return kExitSuccess;
    return Verify(session, prepared, options, out, err);
}

} // namespace qarn::cli
