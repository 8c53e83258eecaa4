#pragma once

#include "firmware/FirmwareImages.h"
#include "firmware/FirmwareModule.h"
#include "protocol/LANconvDevice.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qarn::cli {

// What `flash` sends to one converter, decided before anything is sent.
struct FlashPlan {
    FirmwareChoice choice{};
    std::vector<uint8_t> image;
    uint32_t imageVersion = 0; // the version the image holds: 2.4.10.23 -> 2041023
};

// Decides the update of the converter `record` (a complete record of the device list) with the
// images of `module`, by the rules the window applies before it offers the update: the converter
// answers echo, its firmware version is known and lies in the range of one image
// (ChooseFirmwareImage), the program carries that image, and the image is newer than the
// firmware. An image for the fixed-layout transfer must also have exactly the size that layout
// covers. False with a one-line reason (naming the converter by its address) otherwise.
//
//     2.4.9.3  -> image 150, fixed-layout transfer, version 2.4.10.23
//     1.6.3.0  -> "firmware 1.6.3.0 of 198.18.1.11 is outside 2.0.0.0 to 5.99.99.99: ..."
bool PlanFlash(const LANconvDevice& record, const FirmwareModule* module, FlashPlan& plan,
               std::string* why);

// How far a transfer that the engine reported as failed had come, as `flash` reports it: whether
// it set a position at all (it does once its endpoint is open), the last percentage, and what the
// engine said happened (TransferResult::reason).
struct TransferOutcome {
    bool started = false;
    int32_t percent = 0;
    uint64_t bytesAtPercent = 0;
    uint64_t totalBytes = 0;
    std::string reason;
    bool viaService = false; // through the local communication service
};

// The one-line reason for a failed transfer to `target` ("198.18.1.2"):
//     not started -> "the transfer to 198.18.1.2 could not begin: UDP port 58009 ..."
//     ... via the service -> "the transfer to 198.18.1.2 could not begin: the local
//                     communication service (qarn-comm-service) is not running for this user"
//     otherwise   -> "the transfer to 198.18.1.2 broke off at 40 % (52428 of 131072 bytes):
//                     block 248 (63 of 126) was not acknowledged (no answer within 2.5 s)"
std::string TransferFailureReason(const std::string& target, const TransferOutcome& outcome);

} // namespace qarn::cli
