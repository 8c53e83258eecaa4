#include "cli/FlashPlan.h"

#include "firmware/FirmwareBlockLayout.h"
#include "firmware/UdpFirmwareTransport.h"
#include "ipc/CqarnCommunicationClient3.h"
#include "protocol/ConverterText.h"

namespace qarn::cli {

namespace {

bool Refuse(std::string* why, const std::string& reason) {
    if (why != nullptr)
        *why = reason + "; nothing sent";
    return false;
}

std::string ImageName(uint32_t id) {
    return "firmware image " + std::to_string(id);
}

// "2.0.0.0 to 5.99.99.99": the versions some image is meant for, from the one table.
std::string UpdatableRangeText() {
    return VersionText(kFirmwareImages.front().lowestVersion) + " to " +
           VersionText(kFirmwareImages.back().endVersion - 1);
}

// The size each transfer can send: the fixed layout covers exactly its image size, the 1024-byte
// blocks take any non-empty image up to the largest block number.
std::string SizeProblem(const FirmwareChoice& choice, size_t size) {
    const bool fits = choice.engine == FirmwareEngine::Ltx ? size == kLtxImageBytes
                                                           : size > 0 && size <= kSam4MaxImageSize;
    if (fits)
        return {};
    const std::string needed = choice.engine == FirmwareEngine::Ltx
                                   ? "exactly " + std::to_string(kLtxImageBytes)
                                   : "1 to " + std::to_string(kSam4MaxImageSize);
    return ImageName(choice.imageId) + " has " + std::to_string(size) +
           " bytes; its transfer takes " + needed + " bytes";
}

// The version number the image holds: read from its version field for the fixed layout, the
// fixed text for the 1024-byte one; 0 when it names none.
uint32_t ImageVersion(const FirmwareChoice& choice, const std::vector<uint8_t>& image) {
    if (choice.engine == FirmwareEngine::Sam4)
        return ParseVersion(kSam4ImageVersionText);
    std::string text;
    return ReadImageVersionText(image, text) ? ParseVersion(text) : 0;
}

} // namespace

bool PlanFlash(const LANconvDevice& record, const FirmwareModule* module, FlashPlan& plan,
               std::string* why) {
    const std::string converter = IpToText(record.dwSourceIp);
    const uint32_t version = record.dwFirmwareVersion;
    // The transfer goes to its address and ends by waiting for its echo; a converter deaf to
    // echo may well sit where no unicast reaches it (its writes go by broadcast for that reason).
    // Its record counts as complete without any answer, so this comes before the version.
    if (record.bUnreachable)
        return Refuse(why, converter + " does not answer echo, and the update needs it to");
    // Converters that answer with blocks only report their version as text, never as a number.
    if (version == 0)
        return Refuse(why, "the firmware version of " + converter +
                               " is not known (its answers carry no version number)");
    const std::optional<FirmwareChoice> choice = ChooseFirmwareImage(version);
    if (!choice)
        return Refuse(why, "firmware " + VersionText(version) + " of " + converter +
                               " is outside " + UpdatableRangeText() +
                               ": no image is meant for it");
    plan.choice = *choice;
    if (!LoadFirmwareImage(module, choice->imageId, plan.image))
        return Refuse(why, "this program carries no " + ImageName(choice->imageId) + " (for " +
                               converter + " at firmware " + VersionText(version) + ")");
    if (const std::string problem = SizeProblem(*choice, plan.image.size()); !problem.empty())
        return Refuse(why, problem);
    plan.imageVersion = ImageVersion(*choice, plan.image);
    if (plan.imageVersion == 0)
        return Refuse(why, ImageName(choice->imageId) + " names no version");
    if (plan.imageVersion <= version)
        return Refuse(why, converter + " has firmware " + VersionText(version) + ", and " +
                               ImageName(choice->imageId) + " holds " +
                               VersionText(plan.imageVersion) + ", which is not newer");
    return true;
}

std::string TransferFailureReason(const std::string& target, const TransferOutcome& outcome) {
    if (!outcome.started && outcome.viaService) {
        const std::string problem = DescribeServiceProblem(CqarnCommunicationClient3::kServiceId);
        if (!problem.empty())
            return "the transfer to " + target +
                   " could not begin: the local communication service (qarn-comm-service) cannot "
                   "be reached: " +
                   problem;
        return "the transfer to " + target +
               " could not begin: the local communication service (qarn-comm-service) is not "
               "running for this user";
    }
    if (!outcome.started)
        return "the transfer to " + target + " could not begin: UDP port " +
               std::to_string(UdpFirmwareTransport::kPort) +
               " could not be opened (is another program using it?)";
    return "the transfer to " + target + " broke off at " + std::to_string(outcome.percent) +
           " % (" + std::to_string(outcome.bytesAtPercent) + " of " +
           std::to_string(outcome.totalBytes) + " bytes): " +
           (outcome.reason.empty() ? "the converter did not acknowledge" : outcome.reason);
}

} // namespace qarn::cli
