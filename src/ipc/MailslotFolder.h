#pragma once

#include <optional>
#include <string>

namespace qarn {

// Where the mailslots of this user live: one Unix-domain datagram socket per mailslot id, in a
// folder nobody else may enter. By default "<user runtime folder>/mailslot" (mode 0700, see
// platform::UserRuntimeDirectory). QARN_MAILSLOT_DIR names another folder, for a communication
// service that serves the members of a group from another account: both sides set it to a
// folder of that group. Such a folder must be a real folder (no symbolic link) of this user or
// of root that other users cannot write.
//
// Empty optional, with errno set, when the folder cannot be made or is not safe.
std::optional<std::string> MailslotFolder(std::string* problem = nullptr);

// The socket path of mailslot `id` in `folder`; the id is escaped into one file name that fits a
// socket address. "QCS_192.168.1.20_58004" -> "<folder>/QCS_192.168.1.20_58004.slot". Empty when
// the folder itself is too long for a socket address.
std::string MailslotPath(const std::string& folder, const std::string& id);

} // namespace qarn
