#include "diag/RegistryAccess.h"

#include "platform/FileOps.h"

namespace qarn {

bool OpenRegistryKey(platform::RegKeyHandle root, const std::string& subKey, bool use32BitView,
                     bool create, CHRegKey& key) {
    if (subKey.empty())
        return false;
    key._Release();
    const uint32_t access =
        platform::kKeyRead | (use32BitView ? platform::kKeyWow64_32Key : platform::kKeyWow64_64Key);
    platform::RegKeyHandle opened = nullptr;
    const platform::RegStatus status =
        create ? platform::RegistryCreateKey(root, subKey, access, &opened)
               : platform::RegistryOpenKey(root, subKey, access, &opened);
    if (status != platform::kRegOk)
        return false;
    key.Attach(opened);
    return true;
}

namespace {

bool QueryBinary(const CHRegKey& key, const std::string& valueName, CMyByteArray& bytes) {
    uint32_t type = 0;
    uint32_t size = 0;
    if (platform::RegistryQueryValue(key.Get(), valueName, &type, nullptr, &size) !=
            platform::kRegOk ||
        type != platform::kRegBinary)
        return false;
    if (!bytes.Resize(size))
        return false;
    uint32_t filled = bytes.Size();
    return platform::RegistryQueryValue(key.Get(), valueName, &type, bytes.Data(), &filled) ==
               platform::kRegOk &&
           type == platform::kRegBinary && filled == bytes.Size();
}

} // namespace

bool ReadRegistryBinary(const std::string& keyPath, const std::string& valueName,
                        CMyByteArray& bytes) {
    if (keyPath.empty() || valueName.empty())
        return false;
    bytes.Resize(0);
    CHRegKey key;
    bool ok = OpenRegistryKey(platform::kHKeyLocalMachine, keyPath, false, false, key) &&
              QueryBinary(key, valueName, bytes);
    key._Release();
    // Half-read bytes (the value changed between the two reads) are of no use to anyone.
    if (!ok)
        bytes.Resize(0);
    return ok;
}

bool PathExists(const std::string& path) {
    // An embedded NUL would end the path early for the system, so "/tmp\0x" would pass as "/tmp".
    return path.find('\0') == std::string::npos && platform::PathExists(path);
}

} // namespace qarn
