#include "firmware/FirmwareModule.h"

#include "firmware/EmbeddedImages.h"
#include "firmware/FirmwareImages.h"

#include <utility>

namespace qarn {

FirmwareModule::FirmwareModule(std::vector<FirmwareResource> resources)
    : m_resources(std::move(resources)) {}

std::optional<std::span<const uint8_t>> FirmwareModule::Find(uint32_t id) const {
    for (const FirmwareResource& resource : m_resources) {
        if (resource.id == id)
            return resource.bytes;
    }
    return std::nullopt;
}

namespace {

std::vector<FirmwareResource> EmbeddedResources() {
    std::vector<FirmwareResource> resources;
    const auto add = [&resources](uint32_t id, std::optional<std::span<const uint8_t>> bytes) {
        if (bytes)
            resources.push_back({id, *bytes});
    };
    add(kImageIdLtxFirst, EmbeddedImage149());
    add(kImageIdLtxSecond, EmbeddedImage150());
    add(kImageIdSam4, EmbeddedImage151());
    return resources;
}

} // namespace

const FirmwareModule* ProgramModule() {
    static const FirmwareModule module(EmbeddedResources());
    return &module;
}

} // namespace qarn
