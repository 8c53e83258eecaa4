#include "ui/ConverterFirmwareTransfer.h"

#include "firmware/CConfigLANconverter.h"

namespace qarn {

bool ConverterFirmwareTransfer::Run(FirmwareEngine engine, const std::string& target,
                                    std::span<const uint8_t> image, IProgressDisplay* progress) {
    constexpr bool kWaitForRestart = true;
    constexpr bool kUseUdp = true;
    return engine == FirmwareEngine::Sam4
               ? CConfigLANconverter::UpdateSam4LANconverter(target, image, progress,
                                                             kWaitForRestart, kUseUdp)
               : CConfigLANconverter::UpdateLtxLANconverter(target, image, progress,
                                                            kWaitForRestart, kUseUdp);
}

} // namespace qarn
