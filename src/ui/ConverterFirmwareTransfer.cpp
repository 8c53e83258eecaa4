#include "ui/ConverterFirmwareTransfer.h"

#include "firmware/CConfigLANconverter.h"

namespace qarn {

TransferResult ConverterFirmwareTransfer::Run(FirmwareEngine engine, const std::string& target,
                                              std::span<const uint8_t> image,
                                              IProgressDisplay* progress) {
    constexpr bool kWaitForRestart = true;
    constexpr bool kUseUdp = true;
    TransferResult result;
    if (engine == FirmwareEngine::Sam4)
        CConfigLANconverter::UpdateSam4LANconverter(target, image, progress, kWaitForRestart,
                                                    kUseUdp, &result);
    else
        CConfigLANconverter::UpdateLtxLANconverter(target, image, progress, kWaitForRestart,
                                                   kUseUdp, &result);
    return result;
}

} // namespace qarn
