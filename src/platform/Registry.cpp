#include "platform/Registry.h"

#include "platform/ByteOrder.h"

#include <algorithm>
#include <iterator>

// What every system's store shares: the result texts and the value file's form.

namespace qarn::platform {

namespace {

constexpr uint8_t kMagic[4] = {'q', 'r', 'e', 'g'};

} // namespace

const char* RegistryStatusText(RegStatus status) {
    switch (status) {
    case kRegOk:
        return "success";
    case kRegFileNotFound:
        return "not found";
    case kRegAccessDenied:
        return "access denied";
    case kRegInvalidHandle:
        return "invalid key handle";
    case kRegOutOfMemory:
        return "out of memory";
    case kRegInvalidParameter:
        return "invalid parameter";
    case kRegMoreData:
        return "buffer too small";
    case kRegCorrupt:
        return "malformed value file";
    case kRegIoFailed:
        return "input/output failure";
    default:
        return "unknown error";
    }
}

std::vector<uint8_t> EncodeRegistryValueFile(uint32_t type, std::span<const uint8_t> data) {
    // Sized once and filled by index: every byte has its place, nothing is appended.
    std::vector<uint8_t> out(kRegValueFileHeaderSize + data.size());
    std::copy(std::begin(kMagic), std::end(kMagic), out.begin());
    PutLe32(out.data() + 4, type);
    PutLe32(out.data() + 8, static_cast<uint32_t>(data.size()));
    std::copy(data.begin(), data.end(), out.begin() + kRegValueFileHeaderSize);
    return out;
}

RegStatus DecodeRegistryValueFile(std::span<const uint8_t> file, uint32_t& type,
                                  std::span<const uint8_t>& data) {
    if (file.size() < kRegValueFileHeaderSize ||
        !std::equal(std::begin(kMagic), std::end(kMagic), file.begin()))
        return kRegCorrupt;
    const uint32_t size = GetLe32(file.data() + 8);
    if (size > kRegMaxValueSize || size != file.size() - kRegValueFileHeaderSize)
        return kRegCorrupt;
    type = GetLe32(file.data() + 4);
    data = file.subspan(kRegValueFileHeaderSize, size);
    return kRegOk;
}

} // namespace qarn::platform
