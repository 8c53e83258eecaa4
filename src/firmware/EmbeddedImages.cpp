#include "firmware/EmbeddedImages.h"

#ifndef QARN_PLACEHOLDER_FIRMWARE
#error "the build sets QARN_PLACEHOLDER_FIRMWARE to 1 or 0 from its image folder"
#endif

namespace qarn {

bool EmbeddedImagesArePlaceholders() {
    return QARN_PLACEHOLDER_FIRMWARE != 0;
}

} // namespace qarn
