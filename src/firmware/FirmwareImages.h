#pragma once

#include "firmware/FirmwareModule.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The three firmware images the program carries, which converter gets which, and the version text
// the program shows for each before an update.
//
// A converter's firmware version a.b.c.d is the number a*1000000 + b*10000 + c*100 + d
// (2.3.0.0 -> 2030000), as its record holds it.

namespace qarn {

// Resource ids of the images.
inline constexpr uint32_t kImageIdLtxFirst = 149;  // converters 2.0.0.0 up to 2.2.99.99
inline constexpr uint32_t kImageIdLtxSecond = 150; // converters 2.3.0.0 up to 2.99.99.99
inline constexpr uint32_t kImageIdSam4 = 151;      // converters 3.0.0.0 up to 5.99.99.99

// Sizes in bytes of the converter firmware builds.
inline constexpr uint32_t kLtxImageSize = 131072;
inline constexpr uint32_t kSam4ImageSize = 148972;

// Images 149 and 150 name their version in bytes 16 to 31: 8-bit characters, ended by the first
// zero byte or by the end of the field. Image 151 has no such field; its version is fixed.
inline constexpr uint32_t kImageVersionOffset = 16;
inline constexpr uint32_t kImageVersionFieldSize = 16;
inline constexpr std::string_view kSam4ImageVersionText = "3.2.62.11";

// The transfer procedure an image needs: UpdateLtxLANconverter or UpdateSam4LANconverter of
// CConfigLANconverter.
enum class FirmwareEngine { Ltx, Sam4 };

// One image and the converters it is for: firmware versions in [lowestVersion, endVersion).
struct FirmwareImageInfo {
    uint32_t id;
    uint32_t size; // of the converter firmware build, bytes
    uint32_t lowestVersion;
    uint32_t endVersion;
    FirmwareEngine engine;
};

// The one table of the version ranges; everything that picks an image goes through it.
inline constexpr std::array<FirmwareImageInfo, 3> kFirmwareImages{{
    {kImageIdLtxFirst, kLtxImageSize, 2000000, 2030000, FirmwareEngine::Ltx},
    {kImageIdLtxSecond, kLtxImageSize, 2030000, 3000000, FirmwareEngine::Ltx},
    {kImageIdSam4, kSam4ImageSize, 3000000, 6000000, FirmwareEngine::Sam4},
}};

struct FirmwareChoice {
    uint32_t imageId;
    FirmwareEngine engine;

    friend bool operator==(const FirmwareChoice&, const FirmwareChoice&) = default;
};

// The image and engine for a converter at firmware version `version`, or nullopt for converters
// that get no update (below 2000000 or from 6000000 on).
// 2029999 -> {149, Ltx}; 2030000 -> {150, Ltx}; 3000000 -> {151, Sam4}; 6000000 -> nullopt.
std::optional<FirmwareChoice> ChooseFirmwareImage(uint32_t version);

// The table row of image `id`, or null for an id that is not one of the three.
const FirmwareImageInfo* FindFirmwareImageInfo(uint32_t id);

// Empties `image`; then copies the resource `id` of `module` into it. False, with `image` empty,
// when the module is null, holds no such resource, or the memory for the copy is not there.
bool LoadFirmwareImage(const FirmwareModule* module, uint32_t id, std::vector<uint8_t>& image);

// The version field of an image 149 or 150, read from its bytes. Empties `text`; false when the
// image is not exactly kLtxImageSize bytes. Each byte is one character (Latin-1, stored as
// UTF-8), up to the first zero byte or 16 characters: "2.1.11.24\0\0..." -> "2.1.11.24".
bool ReadImageVersionText(std::span<const uint8_t> image, std::string& text);

// The version text of embedded image `id` (meant for 149 and 150). Empties `text`; false when the
// program lacks the image or it has no version field (see ReadImageVersionText).
bool GetImageVersionText(uint32_t id, std::string& text);

// Empties `text`; when the program carries image 151, sets it to kSam4ImageVersionText and
// returns true, else false.
bool GetSam4ImageVersionText(std::string& text);

} // namespace qarn
