#include "firmware/CConfigLANconverter.h"

#include "diag/FileLogger.h"
#include "firmware/CLtxTransfer.h"
#include "firmware/CSam4Transfer.h"
#include "firmware/FirmwareTransferEnvironment.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

namespace qarn {

namespace {

constexpr uint32_t kAdlerModulus = 65521;

// Bytes summed between two folds. Folded sums stay below a = 65866 and b = 1048561, so over one
// run b grows to at most 1048560 + 5550 * 65865 + 255 * 5550 * 5551 / 2 = 4294625685 < 2^32:
// the 32-bit sums never overflow inside a run.
constexpr size_t kAdlerRun = 5550;

// 65536 = 15 (mod 65521): keeps the sum's residue while shrinking it below about 2^20.
constexpr uint32_t Fold(uint32_t sum) {
    return (sum & 0xFFFF) + 15 * (sum >> 16);
}

constexpr uint32_t Reduce(uint32_t sum) {
    return sum >= kAdlerModulus ? sum - kAdlerModulus : sum;
}

} // namespace

uint32_t CConfigLANconverter::_CreateFirmwareChecksum(std::span<const uint8_t> image) {
    uint32_t a = 1;
    uint32_t b = 0;
    for (size_t at = 0; at < image.size(); at += kAdlerRun) {
        const size_t end = std::min(image.size(), at + kAdlerRun);
        for (size_t i = at; i < end; ++i) {
            a += image[i];
            b += a;
        }
        a = Fold(a);
        b = Fold(b);
    }
    const uint32_t checksum = Reduce(Fold(b)) << 16 | Reduce(a);

    if (IsInfoLogEnabled()) {
        char line[96];
        std::snprintf(line, sizeof line,
                      "CConfigLANconverter::_CreateFirmwareChecksum: CRC:0x%08x from %zu bytes",
                      static_cast<unsigned>(checksum), image.size());
        LogInfo(line);
    }
    return checksum;
}

bool CConfigLANconverter::UpdateSam4LANconverter(const std::string& target,
                                                 std::span<const uint8_t> image,
                                                 IProgressDisplay* progress, bool waitForRestart,
                                                 bool useUdp, TransferResult* result) {
    CSam4Transfer transfer(FirmwareTransferEnvironment::Default());
    return transfer.Run(target, image, progress, waitForRestart, useUdp, result);
}

bool CConfigLANconverter::UpdateLtxLANconverter(const std::string& target,
                                                std::span<const uint8_t> image,
                                                IProgressDisplay* progress, bool waitForRestart,
                                                bool useUdp, TransferResult* result) {
    CLtxTransfer transfer(FirmwareTransferEnvironment::Default());
    return transfer.Run(target, image, progress, waitForRestart, useUdp, result);
}

} // namespace qarn
