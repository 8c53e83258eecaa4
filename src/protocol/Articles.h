#pragma once

#include <string_view>

// The article number is the first six characters of a converter's serial number; two fixed tables
// of article numbers tell the converter generations apart. A serial number shorter than six
// characters belongs to neither: "731458..." -> extended;  "469517..." -> standard;  "73145" ->
// none

namespace qarn {

// Table A: "731458", "762904".
bool IsExtendedArticle(std::string_view serial);

// Table B: "738812", "469517", "762358", "469823".
bool IsStandardArticle(std::string_view serial);

} // namespace qarn
