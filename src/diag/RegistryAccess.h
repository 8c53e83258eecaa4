#pragma once

#include "diag/CHRegKey.h"
#include "diag/CMyByteArray.h"
#include "platform/Registry.h"

#include <string>

namespace qarn {

// Opens `subKey` ("SOFTWARE\qarn\Diagnostics") below `root` for reading, into `key`. Fails at
// once, leaving `key` untouched, for an empty path; otherwise first closes what `key` holds.
// `create` makes missing parts of the path. The 32-bit view is a flag the store accepts and
// ignores. True when the key is open.
bool OpenRegistryKey(platform::RegKeyHandle root, const std::string& subKey, bool use32BitView,
                     bool create, CHRegKey& key);

// Reads the binary value `valueName` of key `keyPath` under the machine root into `bytes`. Any
// old content of `bytes` is wiped first. False, with `bytes` empty, when the key or value is
// missing, the value is not binary, or it changed size between the two reads.
bool ReadRegistryBinary(const std::string& keyPath, const std::string& valueName,
                        CMyByteArray& bytes);

// True when `path` names an existing folder or file, following symbolic links; only the folders
// on the way need to be searchable. False for an empty path and for one with an embedded NUL.
bool PathExists(const std::string& path);

} // namespace qarn
