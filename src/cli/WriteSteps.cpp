#include "cli/WriteSteps.h"

#include "cli/Target.h"
#include "protocol/ConverterText.h"

namespace qarn::cli {

namespace {

std::string AddressTakenReason(const WriteResult& result, uint32_t address) {
    const std::string where = IpToText(address);
    switch (result.lookup.status) {
    case MacLookupStatus::Found:
        return where + " is taken by another device (" + ColonMacText(result.lookup.mac) +
               "); nothing sent";
    case MacLookupStatus::NoRow:
        return where + " answers the echo, and the neighbour table does not say who; nothing sent";
    case MacLookupStatus::Failed:
        break;
    }
    return where + " answers the echo, and the neighbour table could not be read; nothing sent";
}

} // namespace

SentWrite SendPreparedWrite(ConverterSession& session, const PreparedWrite& prepared) {
    SentWrite sent;
    const WriteResult result =
        session.Writer().OnWriteConfiguration(prepared.working, prepared.snapshot, false);
    switch (result.outcome) {
    case WriteOutcome::AddressTaken:
        sent.failure = AddressTakenReason(result, prepared.working.dwIp);
        return sent;
    case WriteOutcome::Busy:
    case WriteOutcome::NoDestination:
        sent.failure = "the converter has no address to send to; nothing sent";
        return sent;
    case WriteOutcome::SentUnicast:
    case WriteOutcome::SentBroadcast:
        break;
    }
    const bool broadcast = result.outcome == WriteOutcome::SentBroadcast;
    const std::string where = broadcast ? "by broadcast" : "to " + IpToText(result.destination);
    if (!result.sendSucceeded) {
        sent.failure = "the configuration could not be sent " + where;
        return sent;
    }
    sent.sent = true;
    sent.lines.push_back(
        "sent " + where +
        (prepared.working.nKind == kKindByMac ? " (written by MAC address)" : "") +
        (broadcast && prepared.working.nKind != kKindByMac ? " (no echo reply from it)" : ""));
    if (result.removedOldRow)
        sent.lines.push_back("the row of " + IpToText(prepared.snapshot.dwIp) +
                             " is gone; it will answer from " + IpToText(prepared.working.dwIp));
    return sent;
}

} // namespace qarn::cli
