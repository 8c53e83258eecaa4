#include "ui/FirmwareOffer.h"

#include "firmware/FirmwareImages.h"
#include "protocol/ConverterText.h"

#include <optional>
#include <string>

namespace qarn {

namespace {

constexpr uint32_t kFirstUpdatableVersion = 2000000;
constexpr uint32_t kEndUpdatableVersion = 6000000;

} // namespace

bool IsUpdatableVersion(uint32_t firmwareVersion) {
    return firmwareVersion >= kFirstUpdatableVersion && firmwareVersion < kEndUpdatableVersion;
}

uint32_t AvailableFirmwareVersion(uint32_t firmwareVersion) {
    if (!IsUpdatableVersion(firmwareVersion))
        return 0;
    const std::optional<FirmwareChoice> choice = ChooseFirmwareImage(firmwareVersion);
    std::string text;
    const bool found =
        choice && (choice->imageId == kImageIdSam4 ? GetSam4ImageVersionText(text)
                                                   : GetImageVersionText(choice->imageId, text));
    return found ? ParseVersion(text) : 0;
}

} // namespace qarn
