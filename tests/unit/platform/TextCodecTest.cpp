#include "platform/TextCodec.h"

#include <string>

#include <gtest/gtest.h>

namespace qarn::platform {
namespace {

TEST(TextCodecTest, IllFormedUtf8BecomesOneReplacementPerMaximalPart) {
    struct Row {
        const char* label;
        std::string input;
        std::u16string expected;
        bool wellFormed;
    };
    const Row rows[] = {
        {"empty", "", u"", true},
        {"ascii and embedded NUL", std::string("a\0b", 3), std::u16string(u"a\0b", 3), true},
        {"two and four bytes", "\xC3\xA9\xF0\x9D\x84\x9E", u"\u00E9\U0001D11E", true},
        {"stray continuation byte", "\x80z", u"\uFFFDz", false},
        {"sequence cut at the end", "a\xE2\x82", u"a\uFFFD", false},
        {"sequence cut by ascii", "\xE2\x82z", u"\uFFFDz", false},
        {"overlong two-byte form", "\xC0\xAF", u"\uFFFD\uFFFD", false},
        {"overlong three-byte form", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD", false},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
        {"largest code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF", true},
        {"byte that never starts one", "\xF5", u"\uFFFD", false},
        {"bad part between good ones", "\xC3\xA9\xFF\xE2\x9C\x93", u"\u00E9\uFFFD\u2713", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        bool wellFormed = !row.wellFormed; // must be overwritten either way
        EXPECT_EQ(Utf8ToUtf16(row.input, &wellFormed), row.expected);
        EXPECT_EQ(wellFormed, row.wellFormed);
        EXPECT_EQ(Utf8ToUtf16(row.input), row.expected) << "without the flag";
    }
}

TEST(TextCodecTest, LoneSurrogatesBecomeReplacementCharactersInUtf8) {
    struct Row {
        const char* label;
        std::u16string input;
        std::string expected;
    };
    const Row rows[] = {
        {"empty", u"", ""},
        {"one, two and three bytes", u"a\u00C4\u2713", "a\xC3\x84\xE2\x9C\x93"},
        {"embedded NUL", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
        {"surrogate pair", u"\xD834\xDD1E", "\xF0\x9D\x84\x9E"},
        {"lone low surrogate", u"\xDC00x", "\xEF\xBF\xBDx"},
        {"high surrogate at the end", u"x\xD800", "x\xEF\xBF\xBD"},
        {"high surrogate before a letter", u"\xD800x", "\xEF\xBF\xBDx"},
        {"pair in the wrong order", u"\xDD1E\xD834", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"two high surrogates, then a low one", u"\xD834\xD834\xDD1E",
         "\xEF\xBF\xBD\xF0\x9D\x84\x9E"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(Utf16ToUtf8(row.input), row.expected);
    }
}

// Every Unicode scalar value, the boundaries between sequence lengths among them, goes through
// both directions unchanged: the two halves cannot disagree on any code point.
TEST(TextCodecTest, EveryScalarValueSurvivesTheRoundTrip) {
    std::u16string all;
    for (char32_t code = 1; code <= 0x10FFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF)
            continue;
        if (code < 0x10000) {
            all.push_back(static_cast<char16_t>(code));
        } else {
            all.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            all.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        }
    }
    const std::string utf8 = Utf16ToUtf8(all);
    // 127 one-byte, 1920 two-byte, 61440 three-byte and 1048576 four-byte sequences.
    EXPECT_EQ(utf8.size(), 127u + 1920u * 2 + 61440u * 3 + 1048576u * 4);
    bool wellFormed = false;
    EXPECT_TRUE(Utf8ToUtf16(utf8, &wellFormed) == all);
    EXPECT_TRUE(wellFormed);
}

} // namespace
} // namespace qarn::platform
