#pragma once

// For the Windows siblings only: security descriptors that give an object to the current user
// alone (and, when named, one more group), for the named objects and files that the processes of
// one user share, so that another user can neither open nor hold them.

#include "platform/WindowsApi.h"

#include <string>

namespace qarn::platform {

class OwnerOnlySecurity {
  public:
    // `group`: a group name ("Users") or SID text ("S-1-5-32-545") whose members get the same
    // rights; empty for the user alone. Valid() is false when the descriptor could not be made.
    explicit OwnerOnlySecurity(const std::wstring& group = std::wstring());
    ~OwnerOnlySecurity();
    OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
    OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;

    bool Valid() const { return m_descriptor != nullptr; }
    // For the Create... calls; null when not Valid (the caller then refuses to go on).
    SECURITY_ATTRIBUTES* Attributes() { return Valid() ? &m_attributes : nullptr; }

  private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
    SECURITY_ATTRIBUTES m_attributes{};
};

// The current user's SID as text ("S-1-5-21-..."); empty when it cannot be read.
std::wstring CurrentUserSid();

// True when the object behind `handle` (a file, a mapping) is owned by the current user.
bool IsOwnedByCurrentUser(HANDLE handle);

} // namespace qarn::platform
