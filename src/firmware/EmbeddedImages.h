#pragma once

#include <cstdint>
#include <optional>
#include <span>

// The firmware image files linked into the program at build time. Each EmbeddedImage<id>() is
// generated from "<id>.bin" of the build's image folder; it returns the file's bytes, or nullopt
// when the folder had no such file. The bytes live for the whole run of the program.
//
// Callers go through ProgramModule() (firmware/FirmwareModule.h) rather than these.

namespace qarn {

std::optional<std::span<const std::uint8_t>> EmbeddedImage149();
std::optional<std::span<const std::uint8_t>> EmbeddedImage150();
std::optional<std::span<const std::uint8_t>> EmbeddedImage151();

// True when the build embedded the project's placeholder images (pseudo-random bytes of the
// right sizes) rather than converter firmware: such a program must not be used on real
// converters.
bool EmbeddedImagesArePlaceholders();

} // namespace qarn
