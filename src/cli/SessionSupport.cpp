#include "cli/SessionSupport.h"

#include "cli/ExitStatus.h"

#include <cmath>
#include <sstream>

namespace qarn::cli {

std::string SecondsText(double seconds) {
    std::ostringstream text;
    text << seconds << " s";
    return text.str();
}

std::chrono::milliseconds SecondsToMs(double seconds) {
    return std::chrono::milliseconds(std::llround(seconds * 1000.0));
}

std::optional<size_t> FindTargetRow(const DeviceList& list, const Target& target) {
    return target.kind == Target::Kind::Ip ? list.FindRowBySource(target.ip)
                                           : list.FindRowByMac(target.mac);
}

std::optional<size_t> FindReadyRow(const DeviceList& list, const Target& target) {
    const std::optional<size_t> row = FindTargetRow(list, target);
    if (!row)
        return std::nullopt;
    const LANconvDevice& record = *list.GetRecord(*row);
    if (!record.bComplete || record.bEchoPending)
        return std::nullopt;
    return row;
}

std::string NotReadyReason(const DeviceList& list, const Target& target, double seconds) {
    const std::optional<size_t> row = FindTargetRow(list, target);
    if (!row)
        return "no converter " + TargetText(target) + " answered within " + SecondsText(seconds);
    const LANconvDevice& record = *list.GetRecord(*row);
    if (record.bComplete && record.bEchoPending)
        return TargetText(target) + " answered, but its echo result is still open after " +
               SecondsText(seconds);
    std::string missing;
    for (const size_t slot : {kSlotSettings, kSlotSerial, kSlotVersionText, kSlotMac}) {
        if (!record.abBlockSeen[slot])
            missing += (missing.empty() ? "" : ", ") + std::to_string(slot);
    }
    return TargetText(target) + " answered, but its answers are incomplete after " +
           SecondsText(seconds) + " (missing blocks " + missing + ")";
}

int UsageError(std::ostream& err, const std::string& reason) {
    err << kProgramName << ": " << reason << "\n";
    return kExitUsage;
}

} // namespace qarn::cli
