#include "platform/WinSecurity.h"

// aclapi.h and sddl.h need windows.h first (WinSecurity.h).
#include <aclapi.h>
#include <sddl.h>
#include <vector>

namespace qarn::platform {

namespace {

std::vector<unsigned char> TokenUser() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    (void)GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    const bool read =
        size != 0 && GetTokenInformation(token, ::TokenUser, buffer.data(), size, &size);
    CloseHandle(token);
    return read ? buffer : std::vector<unsigned char>();
}

// A group's SID text from its name; the text itself when it is one already.
std::wstring GroupSid(const std::wstring& group) {
    if (group.rfind(L"S-", 0) == 0)
        return group;
    DWORD sidSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use{};
    (void)LookupAccountNameW(nullptr, group.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
    if (sidSize == 0)
        return {};
    std::vector<unsigned char> sid(sidSize);
    std::wstring domain(domainSize, L'\0');
    if (!LookupAccountNameW(nullptr, group.c_str(), sid.data(), &sidSize, domain.data(),
                            &domainSize, &use))
        return {};
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid.data(), &text))
        return {};
    std::wstring result(text);
    LocalFree(text);
    return result;
}

} // namespace

std::wstring CurrentUserSid() {
    const std::vector<unsigned char> user = TokenUser();
    if (user.empty())
        return {};
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, &text))
        return {};
    std::wstring result(text);
    LocalFree(text);
    return result;
}

OwnerOnlySecurity::OwnerOnlySecurity(const std::wstring& group) {
    const std::wstring user = CurrentUserSid();
    if (user.empty())
        return;
    // Owner the user; a protected list (nothing inherited) granting all rights to the user and,
    // when named, to the group.
    std::wstring sddl = L"O:" + user + L"D:P(A;;GA;;;" + user + L")";
    if (!group.empty()) {
        const std::wstring groupSid = GroupSid(group);
        if (groupSid.empty())
            return;
        sddl += L"(A;;GA;;;" + groupSid + L")";
    }
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &m_descriptor, nullptr)) {
        m_descriptor = nullptr;
        return;
    }
    m_attributes.nLength = sizeof m_attributes;
    m_attributes.lpSecurityDescriptor = m_descriptor;
    m_attributes.bInheritHandle = FALSE;
}

OwnerOnlySecurity::~OwnerOnlySecurity() {
    if (m_descriptor != nullptr)
        LocalFree(m_descriptor);
}

bool IsOwnedByCurrentUser(HANDLE handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const std::vector<unsigned char> user = TokenUser();
    const bool same =
        !user.empty() &&
        EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid) != 0;
    LocalFree(descriptor);
    return same;
}

} // namespace qarn::platform
