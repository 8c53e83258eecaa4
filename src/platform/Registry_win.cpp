#include "platform/Registry.h"
#include "platform/WinText.h"
#include "platform/WindowsApi.h"

#include <new>
#include <string>
#include <vector>

// The real registry. The store's result codes and access rights are the registry's own numbers,
// so results and masks pass through unchanged.

namespace qarn::platform {

struct RegistryKey {
    HKEY key = nullptr;
    bool root = false;
};

namespace {

RegistryKey gLocalMachine{HKEY_LOCAL_MACHINE, true};
RegistryKey gCurrentUser{HKEY_CURRENT_USER, true};

// The same rule for key paths as the file store: no empty part, no NUL. The registry itself
// rejects what else it cannot hold.
bool IsValidKeyPath(std::string_view path) {
    if (path.find('\0') != std::string_view::npos)
        return false;
    if (path.empty())
        return true;
    if (path.front() == '\\' || path.back() == '\\')
        return false;
    return path.find("\\\\") == std::string_view::npos;
}

bool IsValidValueName(std::string_view name) {
    return name.find('\0') == std::string_view::npos;
}

RegStatus OpenOrCreate(RegKeyHandle parent, std::string_view subKey, uint32_t access,
                       RegKeyHandle* result, bool create, bool* created) {
    if (result == nullptr)
        return kRegInvalidParameter;
    *result = nullptr;
    if (created != nullptr)
        *created = false;
    if (parent == nullptr)
        return kRegInvalidHandle;
    if (!IsValidKeyPath(subKey))
        return kRegInvalidParameter;
    const std::wstring path = Utf8ToWide(subKey);
    HKEY opened = nullptr;
    LSTATUS status = ERROR_SUCCESS;
    DWORD disposition = 0;
    if (create)
        status = RegCreateKeyExW(parent->key, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 access, nullptr, &opened, &disposition);
    else
        status = RegOpenKeyExW(parent->key, path.c_str(), 0, access, &opened);
    if (status != ERROR_SUCCESS)
        return static_cast<RegStatus>(status);
    auto* key = new (std::nothrow) RegistryKey{opened, false};
    if (key == nullptr) {
        RegCloseKey(opened);
        return kRegOutOfMemory;
    }
    *result = key;
    if (created != nullptr)
        *created = disposition == REG_CREATED_NEW_KEY;
    return kRegOk;
}

} // namespace

RegistryKey* const kHKeyLocalMachine = &gLocalMachine;
RegistryKey* const kHKeyCurrentUser = &gCurrentUser;

RegStatus RegistryOpenKey(RegKeyHandle parent, std::string_view subKey, uint32_t access,
                          RegKeyHandle* result) {
    return OpenOrCreate(parent, subKey, access, result, false, nullptr);
}

RegStatus RegistryCreateKey(RegKeyHandle parent, std::string_view subKey, uint32_t access,
                            RegKeyHandle* result, bool* created) {
    return OpenOrCreate(parent, subKey, access, result, true, created);
}

RegStatus RegistryQueryValue(RegKeyHandle key, std::string_view name, uint32_t* type, uint8_t* data,
                             uint32_t* size) {
    if (key == nullptr)
        return kRegInvalidHandle;
    if ((data != nullptr && size == nullptr) || !IsValidValueName(name))
        return kRegInvalidParameter;
    const std::wstring valueName = Utf8ToWide(name);
    // The size first: a value above the store's limit is refused before it is read, as the file
    // store refuses such a file.
    DWORD valueType = 0;
    DWORD valueSize = 0;
    LSTATUS status =
        RegQueryValueExW(key->key, valueName.c_str(), nullptr, &valueType, nullptr, &valueSize);
    if (status != ERROR_SUCCESS)
        return static_cast<RegStatus>(status);
    if (valueSize > kRegMaxValueSize)
        return kRegCorrupt;
    if (data == nullptr) {
        if (type != nullptr)
            *type = valueType;
        if (size != nullptr)
            *size = valueSize;
        return kRegOk;
    }
    DWORD capacity = *size;
    status = RegQueryValueExW(key->key, valueName.c_str(), nullptr, &valueType, data, &capacity);
    if (type != nullptr)
        *type = valueType;
    *size = capacity;
    return static_cast<RegStatus>(status);
}

RegStatus RegistrySetValue(RegKeyHandle key, std::string_view name, uint32_t type,
                           const uint8_t* data, uint32_t size) {
    if (key == nullptr)
        return kRegInvalidHandle;
    if (size > kRegMaxValueSize || (data == nullptr && size != 0) || !IsValidValueName(name))
        return kRegInvalidParameter;
    // One call replaces the value whole: readers see the old value or the new one.
    const std::wstring valueName = Utf8ToWide(name);
    return static_cast<RegStatus>(RegSetValueExW(key->key, valueName.c_str(), 0, type, data, size));
}

RegStatus RegistryDeleteValue(RegKeyHandle key, std::string_view name) {
    if (key == nullptr)
        return kRegInvalidHandle;
    if (!IsValidValueName(name))
        return kRegInvalidParameter;
    return static_cast<RegStatus>(RegDeleteValueW(key->key, Utf8ToWide(name).c_str()));
}

RegStatus RegistryCloseKey(RegKeyHandle key) {
    if (key == nullptr)
        return kRegInvalidHandle;
    if (key->root)
        return kRegOk;
    const LSTATUS status = RegCloseKey(key->key);
    delete key;
    return status == ERROR_SUCCESS ? kRegOk : static_cast<RegStatus>(status);
}

} // namespace qarn::platform
