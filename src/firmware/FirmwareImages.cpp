#include "firmware/FirmwareImages.h"

#include <new>

namespace qarn {

std::optional<FirmwareChoice> ChooseFirmwareImage(uint32_t version) {
    for (const FirmwareImageInfo& info : kFirmwareImages) {
        if (version >= info.lowestVersion && version < info.endVersion)
            return FirmwareChoice{info.id, info.engine};
    }
    return std::nullopt;
}

const FirmwareImageInfo* FindFirmwareImageInfo(uint32_t id) {
    for (const FirmwareImageInfo& info : kFirmwareImages) {
        if (info.id == id)
            return &info;
    }
    return nullptr;
}

bool LoadFirmwareImage(const FirmwareModule* module, uint32_t id, std::vector<uint8_t>& image) {
    image.clear();
    if (module == nullptr)
        return false;
    const std::optional<std::span<const uint8_t>> bytes = module->Find(id);
    if (!bytes)
        return false;
    try {
        image.assign(bytes->begin(), bytes->end());
    } catch (const std::bad_alloc&) {
        image.clear();
        return false;
    }
    return true;
}

bool ReadImageVersionText(std::span<const uint8_t> image, std::string& text) {
    text.clear();
    if (image.size() != kLtxImageSize)
        return false;
    const auto field = image.subspan(kImageVersionOffset, kImageVersionFieldSize);
    for (const uint8_t byte : field) {
        if (byte == 0)
            break;
        // Latin-1 -> UTF-8, so that a stray high byte still gives valid text.
        if (byte < 0x80) {
            text.push_back(static_cast<char>(byte));
        } else {
            text.push_back(static_cast<char>(0xC0 | byte >> 6));
            text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return true;
}

bool GetImageVersionText(uint32_t id, std::string& text) {
    text.clear();
    const std::optional<std::span<const uint8_t>> image = ProgramModule()->Find(id);
    return image && ReadImageVersionText(*image, text);
}

bool GetSam4ImageVersionText(std::string& text) {
    text.clear();
    if (!ProgramModule()->Find(kImageIdSam4))
        return false;
    text = kSam4ImageVersionText;
    return true;
}

} // namespace qarn
