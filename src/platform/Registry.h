#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// The machine settings store. On Windows it is the registry itself (the diagnostics value is
// Configuration under HKEY_LOCAL_MACHINE, key "SOFTWARE\qarn\Diagnostics"), with the registry's
// own rules for names and rights. On Linux it is a folder tree that behaves the same way: keys are
// folders, each value is one file that records its type and its bytes. The store lives under
// /etc/qarn/registry, or under the folder named by the environment variable QARN_REGISTRY_ROOT,
// read at every open so that each test can use a folder of its own:
//
//     <root>/HKLM/SOFTWARE/qarn/Diagnostics/Configuration.value
//
// Key paths use backslashes between their parts ("SOFTWARE\qarn\Diagnostics"). A part may not be
// empty, ".", "..", contain '/' or NUL, or end in ".value" (that name belongs to value files), so
// no path leaves the root. Names are compared as the file system does: case matters.
//
// Results follow the usual store conventions: 0 on success, otherwise one of the codes below.
// Every call is safe from any thread; an open key may be used by several threads at once.

namespace qarn::platform {

using RegStatus = int32_t;
inline constexpr RegStatus kRegOk = 0;
inline constexpr RegStatus kRegFileNotFound = 2;      // key or value missing
inline constexpr RegStatus kRegAccessDenied = 5;      // no right to it (file mode, or key mask)
inline constexpr RegStatus kRegInvalidHandle = 6;     // null key
inline constexpr RegStatus kRegOutOfMemory = 14;      // buffer for the value not allocated
inline constexpr RegStatus kRegInvalidParameter = 87; // bad name, path escape, value too large
inline constexpr RegStatus kRegMoreData = 234;        // caller's buffer smaller than the value
inline constexpr RegStatus kRegCorrupt = 1015;        // value file malformed
inline constexpr RegStatus kRegIoFailed = 1016;       // any other file-system failure

// Value types. The store keeps any 32-bit type; these are the ones the program names.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;

// Access rights of an opened key. Reading a value needs kKeyQueryValue, writing or deleting one
// kKeySetValue; a call without the right fails with kRegAccessDenied.
inline constexpr uint32_t kKeyQueryValue = 0x0001;
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr uint32_t kKeyNotify = 0x0010;
inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kKeyWrite = 0x20006;
inline constexpr uint32_t kKeyAllAccess = 0xF003F;
// 32-bit and 64-bit views of the store exist only on Windows, which runs 32-bit programs beside
// 64-bit ones under separate settings; there the flags choose the view. On Linux there is one
// store: both flags are accepted and change nothing.
inline constexpr uint32_t kKeyWow64_64Key = 0x0100;
inline constexpr uint32_t kKeyWow64_32Key = 0x0200;

// Largest value the store writes or reads, in bytes of data (1 MiB). A larger value file is
// refused before it is read.
inline constexpr uint32_t kRegMaxValueSize = 1024 * 1024;

// An open key; null means none. The two roots below are never closed (closing them is harmless).
struct RegistryKey;
using RegKeyHandle = RegistryKey*;

// Machine-wide settings: <root>/HKLM.
extern RegistryKey* const kHKeyLocalMachine;
// Settings of the user: <QARN_REGISTRY_ROOT>/HKCU when the variable is set, else
// ${XDG_CONFIG_HOME:-$HOME/.config}/qarn/registry/HKCU.
extern RegistryKey* const kHKeyCurrentUser;

// Opens an existing key `subKey` below `parent` (an empty subKey opens `parent` itself again) with
// the rights in `access`. On success *result holds a key the caller closes with RegistryCloseKey.
RegStatus RegistryOpenKey(RegKeyHandle parent, std::string_view subKey, uint32_t access,
                          RegKeyHandle* result);

// Like RegistryOpenKey, but creates the missing parts of the path first (as mkdir -p does).
// *created, when given, tells whether the last part was new.
RegStatus RegistryCreateKey(RegKeyHandle parent, std::string_view subKey, uint32_t access,
                            RegKeyHandle* result, bool* created = nullptr);

// Reads value `name` of `key`:
// - data null: *size (when given) becomes the value's size in bytes, *type (when given) its type;
// - data given: *size holds the buffer size on entry and the value's size on return; a buffer that
//   is too small gives kRegMoreData with *size set to the size needed and nothing copied.
// A malformed value file gives kRegCorrupt.
RegStatus RegistryQueryValue(RegKeyHandle key, std::string_view name, uint32_t* type, uint8_t* data,
                             uint32_t* size);

// Stores value `name` of `key` atomically: readers see the old value or the new one, never a mix,
// and a crash never leaves a half-written value (temporary file, flushed, then renamed).
RegStatus RegistrySetValue(RegKeyHandle key, std::string_view name, uint32_t type,
                           const uint8_t* data, uint32_t size);

// Removes value `name` of `key`; kRegFileNotFound when there is none.
RegStatus RegistryDeleteValue(RegKeyHandle key, std::string_view name);

// Closes a key from RegistryOpenKey or RegistryCreateKey. The handle is gone afterwards even when
// the result reports a failure of the underlying close.
RegStatus RegistryCloseKey(RegKeyHandle key);

// A short English description of a result, e.g. 5 -> "access denied", for messages and logs.
const char* RegistryStatusText(RegStatus status);

// The value file: 4 bytes "qreg", the type (4 bytes LE), the data size (4 bytes LE), the data.
//
//     71 72 65 67  03 00 00 00  02 00 00 00  AB CD   ->  type 3, data AB CD
//
// Decoding checks the magic, the size (it must match the bytes that follow exactly and not exceed
// kRegMaxValueSize) and gives kRegCorrupt otherwise; `data` then points into `file`.
inline constexpr size_t kRegValueFileHeaderSize = 12;
std::vector<uint8_t> EncodeRegistryValueFile(uint32_t type, std::span<const uint8_t> data);
RegStatus DecodeRegistryValueFile(std::span<const uint8_t> file, uint32_t& type,
                                  std::span<const uint8_t>& data);

} // namespace qarn::platform
