#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// A module as the holder of raw-data resources found by numeric id: the running program is one
// (its embedded firmware images), and tests build their own with bytes of their choosing.

namespace qarn {

// One resource: its id and bytes. The module does not own the bytes; they must outlive it.
struct FirmwareResource {
    uint32_t id = 0;
    std::span<const uint8_t> bytes;
};

class FirmwareModule {
  public:
    explicit FirmwareModule(std::vector<FirmwareResource> resources);

    // The bytes of the resource with this id (the first one if an id repeats), or nullopt when
    // the module holds none.
    std::optional<std::span<const uint8_t>> Find(uint32_t id) const;

  private:
    std::vector<FirmwareResource> m_resources;
};

// The module of the running program, holding the images embedded at build time (ids 149, 150,
// 151, each only if its file was there). Never null; lives until the process ends.
const FirmwareModule* ProgramModule();

} // namespace qarn
