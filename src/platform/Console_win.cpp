#include "platform/Console.h"
#include "platform/WinText.h"
#include "platform/WindowsApi.h"

#include <aclapi.h>
#include <sddl.h>

namespace qarn::platform {

void PrepareConsoleOutput() {
    SetConsoleOutputCP(CP_UTF8);
}

bool StandardOutputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

std::optional<int> TerminalRows() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return std::nullopt;
    const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    return rows > 0 ? std::optional<int>(rows) : std::nullopt;
}

bool IsFolderOpenToEveryone(const std::string& folder) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(Utf8ToWide(folder).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    // A null list grants everything to everyone.
    bool open = dacl == nullptr;
    // Everyone, Authenticated Users, Users.
    for (const wchar_t* text : {L"S-1-1-0", L"S-1-5-11", L"S-1-5-32-545"}) {
        if (open)
            break;
        PSID sid = nullptr;
        if (!ConvertStringSidToSidW(text, &sid))
            continue;
        TRUSTEE_W trustee{};
        BuildTrusteeWithSidW(&trustee, sid);
        ACCESS_MASK rights = 0;
        if (GetEffectiveRightsFromAclW(dacl, &trustee, &rights) == ERROR_SUCCESS)
            open = (rights & FILE_ADD_FILE) != 0 && (rights & FILE_DELETE_CHILD) != 0;
        LocalFree(sid);
    }
    LocalFree(descriptor);
    return open;
}

} // namespace qarn::platform
