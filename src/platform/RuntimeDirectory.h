#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qarn::platform {

// The folder for this user's run-time files (locks, records, sockets), private to the user:
// "$XDG_RUNTIME_DIR/qarn" when that variable names an absolute folder of this user, else
// "/tmp/qarn-<uid>". Made with mode 0700 when missing. Empty optional (errno set) when it cannot be
// made or is not safe to use: not a real folder (a symbolic link counts as not), owned by someone
// else, or open to group or others (EPERM for the last three).
// With `problem`, a failure is also told in words that name the folder and, when it is in the
// way, its owner: "/tmp/qarn-1000 belongs to mallory (uid 1001), not to this user".
std::optional<std::string> UserRuntimeDirectory(std::string* problem = nullptr);

// Accepts `path` as a folder for this user's private files: a real folder (not a link) of this
// user that gives nothing to group or others. Else false, errno EPERM (or lstat's), and the
// reason in `problem` when given.
bool IsPrivateFolder(const std::string& path, std::string* problem = nullptr);

// A user for messages: "mallory (uid 1001)", or "uid 1001" when the name is not known.
std::string DescribeUser(std::uint32_t uid);

// Where the system shows its named shared-memory objects, for messages about them.
inline const std::string kSharedMemoryFolder = "/dev/shm";

// A file name made of `prefix`, `name` and `suffix` that is safe as one entry of a folder and at
// most `maxLength` bytes long. In `name`, '/', '%' and control bytes are written as %XX so that
// distinct names stay distinct; when the result would be too long, the escaped name keeps its
// head and ends in '~' and a 16-digit hash of the whole escaped name.
//   ("InstanceHandler_for_", "tool", "")   -> "InstanceHandler_for_tool"
//   ("", "a/b%", ".lock")                   -> "a%2Fb%25.lock"
// Empty when `maxLength` cannot hold prefix, suffix and the hashed form.
std::string RuntimeEntryName(std::string_view prefix, std::string_view name,
                             std::string_view suffix, size_t maxLength = 255);

} // namespace qarn::platform
