#pragma once

#include "ui/DialogServices.h"

namespace qarn {

// The real transfer: the engine of CConfigLANconverter that the image needs, over UDP, waiting
// for the converter's restart.
class ConverterFirmwareTransfer : public IFirmwareTransfer {
  public:
    TransferResult Run(FirmwareEngine engine, const std::string& target,
                       std::span<const uint8_t> image, IProgressDisplay* progress) override;
};

} // namespace qarn
