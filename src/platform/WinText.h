#pragma once

// For the Windows siblings only: the wide strings of the Windows API and the program's UTF-8,
// through the same conversions as everywhere else (wchar_t is UTF-16 on Windows).

#include "platform/TextCodec.h"

#include <string>
#include <string_view>

namespace qarn::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the Windows API's wide characters are UTF-16");

inline std::wstring Utf8ToWide(std::string_view utf8) {
    const std::u16string utf16 = Utf8ToUtf16(utf8);
    return std::wstring(utf16.begin(), utf16.end());
}

inline std::string WideToUtf8(std::wstring_view wide) {
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

} // namespace qarn::platform
