#pragma once

#include <string>
#include <string_view>

// Conversions between the program's UTF-8 text and the UTF-16 that log files and stored settings
// carry. Neither direction fails: what cannot be converted becomes U+FFFD, so a damaged name
// still shows where it was damaged.

namespace qarn::platform {

// UTF-8 -> UTF-16. Each maximal ill-formed part (a stray byte, a cut-off or overlong sequence, an
// encoded surrogate, a code point above U+10FFFF) becomes one U+FFFD, the way most decoders do it:
// "a\xE2\x82" -> u"a\uFFFD", "\xC0\xAF" -> u"\uFFFD\uFFFD". `wellFormed`, when given, tells
// whether the input was UTF-8 throughout (no U+FFFD was put in). Embedded NULs pass unchanged.
std::u16string Utf8ToUtf16(std::string_view utf8, bool* wellFormed = nullptr);

// UTF-16 -> UTF-8. A surrogate pair becomes one four-byte sequence; a lone surrogate, which has
// no UTF-8 form, becomes U+FFFD: u"\xD834\xDD1Ex\xDC00" -> "\xF0\x9D\x84\x9Ex\xEF\xBF\xBD".
std::string Utf16ToUtf8(std::u16string_view utf16);

} // namespace qarn::platform
