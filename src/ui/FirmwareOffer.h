#pragma once

#include <cstdint>

namespace qarn {

// Converters from 2.0.0.0 up to 5.99.99.99 can be updated; the rest have no image.
bool IsUpdatableVersion(uint32_t firmwareVersion);

// The version of the built-in image that fits a converter at `firmwareVersion` (the number the
// image's version text gives), or 0 when no image fits or the program lacks it. Whether it is
// newer than the converter's is for the caller to decide.
// 2040903 -> 2041023 (image 150, "2.4.10.23");  3010000 -> 3026211;  1060300 -> 0
uint32_t AvailableFirmwareVersion(uint32_t firmwareVersion);

} // namespace qarn
