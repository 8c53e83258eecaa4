#include "ipc/SystemErrorText.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qarn {

std::string SystemErrorText(int code) {
    char buffer[256] = {};
    // The GNU variant returns the text, which may or may not live in `buffer`.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    std::string result = text != nullptr ? text : "";
    const size_t first = result.find_first_not_of(" \t\r\n");
    const size_t last = result.find_last_not_of(" \t\r\n");
    result = first == std::string::npos ? std::string() : result.substr(first, last - first + 1);
    if (result.empty() || result.rfind("Unknown error", 0) == 0)
        return "unknown error code " + std::to_string(static_cast<unsigned>(code));
    return result;
}

std::string FormatText(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list measure;
    va_copy(measure, arguments);
    const int size = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (size > 0) {
        std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
        std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
        text.assign(buffer.data(), static_cast<size_t>(size));
    }
    va_end(arguments);
    return text;
}

} // namespace qarn
