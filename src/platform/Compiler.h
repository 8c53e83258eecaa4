#pragma once

// Compiler annotations that not every compiler knows, so that the code builds with gcc and clang
// (Linux, mingw-w64) and with MSVC alike.

// Checks a printf-style format string (argument `format`) against the arguments from `first` on.
// mingw-w64's C++ library uses its own ISO printf, hence gnu_printf there (not the system's).
#if defined(__MINGW32__)
#define QARN_PRINTF_FORMAT(formatIndex, firstArgument)                                             \
    __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#elif defined(__GNUC__) || defined(__clang__)
#define QARN_PRINTF_FORMAT(formatIndex, firstArgument)                                             \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define QARN_PRINTF_FORMAT(formatIndex, firstArgument)
#endif
