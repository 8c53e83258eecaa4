#include "cli/FlashCommand.h"

#include "cli/ConverterSession.h"
#include "cli/ExitStatus.h"
#include "cli/FlashPlan.h"
#include "cli/SessionSupport.h"
#include "cli/Target.h"
#include "firmware/CConfigLANconverter.h"
#include "firmware/EmbeddedImages.h"
#include "firmware/TransferResult.h"
#include "firmware/UdpFirmwareTransport.h"
#include "ipc/ClientFirmwareTransport.h"
#include "protocol/ConverterText.h"

#include <chrono>

namespace qarn::cli {

namespace {

constexpr std::chrono::milliseconds kSettleQuiet{1000};
constexpr std::chrono::milliseconds kSettleLimit{2500};
constexpr std::chrono::milliseconds kSettleSlice{100};

constexpr const char* kPlaceholderReason =
    "this program carries placeholder firmware images (random bytes), which would leave a real "
    "converter without working firmware; give --allow-placeholder-images only for simulated "
    "converters";

// Finds the converter and decides its update while the discovery endpoint is open; the endpoint
// closes when this returns, which frees port 58009 for the transfer. False after printing why.
bool FindAndPlan(const EndpointOptions& endpoint, const Target& target, double seconds,
                 LANconvDevice& record, FlashPlan& plan, std::ostream& err) {
    ConverterSession session(endpoint.port);
    std::string why;
    if (!session.Open(&why, endpoint.broadcastInterface)) {
        Fail(err, why);
        return false;
    }
    const DeviceList& list = session.List();
    session.RunUntil(SecondsToMs(seconds), [&] { return FindReadyRow(list, target).has_value(); });
    const std::optional<size_t> row = FindReadyRow(list, target);
    if (!row) {
        Fail(err, NotReadyReason(list, target, seconds));
        return false;
    }
    record = *list.GetRecord(*row);
    if (!PlanFlash(record, ProgramModule(), plan, &why)) {
        Fail(err, why);
        return false;
    }
    LetAnswersSettle(session);
    return true;
}

// Runs the engine the plan names on this thread and says how it ended; prints the progress and
// whether the transfer was confirmed.
TransferResult Transfer(const LANconvDevice& record, const FlashPlan& plan,
                        const FlashOptions& options, ProgressStyle style, std::ostream& out,
                        TransferOutcome& outcome) {
    const std::string address = IpToText(record.dwSourceIp);
    TextProgress progress(out, style, plan.image.size());
    progress.SetWindowText(address + ": ");
    progress.SetShowText(true);
    TransferResult result;
    const bool useUdp = !options.viaService;
    if (plan.choice.engine == FirmwareEngine::Ltx)
        CConfigLANconverter::UpdateLtxLANconverter(address, plan.image, &progress,
                                                   options.waitForRestart, useUdp, &result);
    else
        CConfigLANconverter::UpdateSam4LANconverter(address, plan.image, &progress,
                                                    options.waitForRestart, useUdp, &result);
    progress.Finish();
    outcome = {result.started,    result.percent, progress.BytesAt(result.percent),
               plan.image.size(), result.reason,  options.viaService};
    if (result.verdict == TransferVerdict::Done)
        out << "transfer done; " << address
            << (options.waitForRestart ? " restarted and answers echo again" : " restarts now")
            << "\n";
    else if (result.verdict == TransferVerdict::Unconfirmed)
        out << "transfer not confirmed: " << result.reason << "; the firmware " << address
            << " reports now decides\n";
    return result;
}

// Discovers afresh, as the window does after an update, until the converter (known by its MAC
// address) answers with a firmware version other than the one it had. True after printing the new
// version; false with the reason in `failure`. `result` says how the transfer ended: Done, or
// Unconfirmed, when the new version alone shows that the converter took the image.
bool Rediscover(const EndpointOptions& endpoint, const LANconvDevice& before, double seconds,
                const TransferResult& result, std::ostream& out, std::string& failure) {
    const std::string address = IpToText(before.dwSourceIp);
    const std::string lead = result.verdict == TransferVerdict::Done
                                 ? "the transfer was acknowledged, but "
                                 : "the transfer was not confirmed (" + result.reason + "), and ";
    ConverterSession session(endpoint.port);
    std::string why;
    if (!session.Open(&why, endpoint.broadcastInterface)) {
        failure = lead + why + " to see the new firmware";
        return false;
    }
    const DeviceList& list = session.List();
    const auto reported = [&]() -> const LANconvDevice* {
        const std::optional<size_t> row = list.FindRowByMac(before.abyMac);
        return row ? list.GetRecord(*row) : nullptr;
    };
    const auto updated = [&] {
        const LANconvDevice* now = reported();
        return now != nullptr && now->bComplete && now->dwFirmwareVersion != 0 &&
               now->dwFirmwareVersion != before.dwFirmwareVersion;
    };
    session.RunUntil(SecondsToMs(seconds), updated);
    if (updated()) {
        out << address << " now has firmware " << VersionText(reported()->dwFirmwareVersion)
            << (result.verdict == TransferVerdict::Done
                    ? ""
                    : ": its new version confirms the update the transfer could not")
            << "\n";
        return true;
    }
    const LANconvDevice* now = reported();
    if (now == nullptr || now->dwFirmwareVersion == 0)
        failure = lead + address + " did not report its firmware within " + SecondsText(seconds);
    else
        failure = lead + address + " still reports firmware " +
                  VersionText(now->dwFirmwareVersion) + " after " + SecondsText(seconds);
    return false;
}

} // namespace

// A configuration answer has the wrong length for a block acknowledgement and makes the
// fixed-layout transfer send the block again, and three of them to one block end it. The next
// request is pushed kTicksPerRequest ticks away (more than 3 s).
void LetAnswersSettle(ConverterSession& session) {
    using Clock = std::chrono::steady_clock;
    session.Discovery().RestartCountdown();
    const Clock::time_point start = Clock::now();
    Clock::time_point lastDatagram = start;
    session.SetAnswerHook([&](uint32_t, AnswerDisposition, std::span<const uint8_t>) {
        lastDatagram = Clock::now();
    });
    while (Clock::now() - lastDatagram < kSettleQuiet && Clock::now() - start < kSettleLimit)
        session.RunUntil(kSettleSlice, [] { return false; });
    session.SetAnswerHook(nullptr);
}

int CheckFlashBasics(const EndpointOptions& endpoint, const FlashOptions& options,
                     std::ostream& err) {
    const int32_t port = endpoint.port;
    if (port != UdpFirmwareTransport::kPort)
        return UsageError(err, "flash: the firmware transfer uses UDP port " +
                                   std::to_string(UdpFirmwareTransport::kPort) +
                                   " on both sides; --port " + std::to_string(port) +
                                   " cannot apply");
    if (EmbeddedImagesArePlaceholders() && !options.allowPlaceholderImages)
        return Fail(err, kPlaceholderReason);
    return kExitSuccess;
}

int RunFlash(const EndpointOptions& endpoint, const FlashOptions& options, ProgressStyle style,
             std::ostream& out, std::ostream& err) {
    const std::optional<Target> target = ParseTarget(options.target);
    if (!target)
        return UsageError(err, "'" + options.target + "' is not an IPv4 or MAC address");
    if (const int status = CheckFlashBasics(endpoint, options, err); status != kExitSuccess)
        return status;

    if (options.viaService)
        RegisterClientFirmwareTransport();

    LANconvDevice record;
    FlashPlan plan;
    if (!FindAndPlan(endpoint, *target, options.seconds, record, plan, err))
        return kExitFailure;
    out << "updating " << IpToText(record.dwSourceIp) << " (" << ColonMacText(record.abyMac)
        << ") from firmware " << VersionText(record.dwFirmwareVersion) << " to "
        << VersionText(plan.imageVersion) << " (image " << plan.choice.imageId << ")"
        << (options.waitForRestart ? ", then waiting for its restart" : "") << "\n"
        << std::flush;
    const std::string address = IpToText(record.dwSourceIp);
    for (int attempt = 1;; ++attempt) {
        TransferOutcome outcome;
        const TransferResult result = Transfer(record, plan, options, style, out, outcome);
        std::string failure;
        if (result.verdict == TransferVerdict::Failed)
            failure = TransferFailureReason(address, outcome);
        else if (Rediscover(endpoint, record, options.seconds, result, out, failure))
            return kExitSuccess;
        if (attempt >= options.attempts)
            return Fail(err, options.attempts > 1
                                 ? failure + " (" + std::to_string(attempt) + " attempts)"
                                 : failure);
        out << "attempt " << attempt << " of " << options.attempts << " failed: " << failure
            << "\nstarting over from the first block\n"
            << std::flush;
    }
}

} // namespace qarn::cli
