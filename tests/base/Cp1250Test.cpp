#include "base/Cp1250.h"
#include "base/Exception.h"

#include <vector>

#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace upd {

TEST(Cp1250Test, RomanianLettersRoundTripThroughUtf8AndUtf16)
{
    const std::string letters = "\xE3\xE2\xEE\xBA\xFE\xC3\xC2\xCE\xAA\xDE";
    EXPECT_EQ(Cp1250ToUtf8(letters), "\xC4\x83\xC3\xA2\xC3\xAE\xC5\x9F\xC5\xA3\xC4\x82\xC3\x82\xC3\x8E\xC5\x9E\xC5\xA2");
    EXPECT_EQ(Utf8ToCp1250(Cp1250ToUtf8(letters)), letters);
    std::u16string wide = Cp1250ToUtf16(letters);
    EXPECT_EQ(wide[0], u'\u0103');
    EXPECT_EQ(wide[3], u'\u015F');
    EXPECT_EQ(Utf16ToCp1250(wide), letters);
}

TEST(Cp1250Test, LettersOutsideThePageBecomeQuestionMarks)
{
    // Comma-below s and t are not in code page 1250.
    EXPECT_EQ(Utf8ToCp1250("\xC8\x99\xC8\x9B"), "??");
    EXPECT_EQ(Utf16ToCp1250(u"\U0001F600"), "?");
    // Malformed UTF-8: a lone continuation byte and a truncated sequence.
    EXPECT_EQ(Utf8ToCp1250("a\x80" "b\xC4"), "a?b?");
}

TEST(Cp1250Test, UndefinedBytesStandForTheirControlCodesBothWays)
{
    const std::string bytes = "a\x81\x83\x88\x90\x98z";
    EXPECT_EQ(Cp1250ToUtf16(bytes), u"a\u0081\u0083\u0088\u0090\u0098z");
    EXPECT_EQ(Utf16ToCp1250(Cp1250ToUtf16(bytes)), bytes);
    EXPECT_EQ(Utf8ToCp1250(Cp1250ToUtf8(bytes)), bytes);
}

TEST(Cp1250Test, Utf8AndUtf16OfAnyLetter)
{
    // s comma below, Cyrillic zhe, a CJK letter and one beyond the 16-bit plane.
    const std::string utf8 = "\xC8\x99\xD0\x96\xE4\xB8\xAD\xF0\x9F\x98\x80";
    EXPECT_EQ(Utf8ToUtf16(utf8), u"\u0219\u0416\u4E2D\U0001F600");
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(utf8)), utf8);
}

// Names from the system travel through texts without losing a letter; a
// control code U+001A before letters whose page bytes would form UTF-8 is no
// escape and comes back as it went.
TEST(Cp1250Test, SystemTextsKeepEveryLetter)
{
    for (const std::u16string name : {std::u16string(u"C:\\\u0218tefan \u0416 \u4E2D\\Temp \U0001F600"),
                                      std::u16string(u"a\u001A\u0102\u00A2z"), std::u16string(u"\u001A")}) {
        const std::string text = Utf16ToUtf8(name);
        EXPECT_EQ(Utf8ToUtf16(text), name);
    }
    // A lone surrogate half has no letter: it becomes U+FFFD.
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

// The decoder takes the shortest form of a letter only: anything else is one
// malformed byte at a time, '?' in the page and U+FFFD in UTF-16.
TEST(Cp1250Test, MalformedUtf8IsRefusedByteByByte)
{
    const struct {
        const char* Name;
        std::string Bytes;
        std::string Page;
        std::u16string Wide;
    } rows[] = {
        {"overlong slash", "\xC0\xAF", "??", u"\uFFFD\uFFFD"},
        {"overlong a with breve", "\xE0\x84\x83", "???", u"\uFFFD\uFFFD\uFFFD"},
        {"overlong NUL", "\xC1\x80", "??", u"\uFFFD\uFFFD"},
        {"surrogate half", "\xED\xA0\x80", "???", u"\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "????", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"five-byte lead", "\xF8\x88\x80\x80\x80", "?????", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"truncated", "\xC4", "?", u"\uFFFD"},
        {"truncated before a letter", "\xE4\xB8" "a", "??a", u"\uFFFD\uFFFDa"},
        {"largest letter", "\xF4\x8F\xBF\xBF", "?", u"\U0010FFFF"},
        {"a with breve", "\xC4\x83", "\xE3", u"\u0103"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(Utf8ToCp1250(row.Bytes), row.Page);
        EXPECT_EQ(Utf8ToUtf16(row.Bytes), row.Wide);
    }
}

TEST(Cp1250Test, LettersAndOffsetsCountLettersNotBytes)
{
    const std::string text = "a\xC4\x83\xE4\xB8\xAD\xF0\x9F\x98\x80z";
    EXPECT_EQ(Utf8Letters(text), 5u);
    EXPECT_EQ(Utf8Offset(text, 2), 3u);
    EXPECT_EQ(Utf8Offset(text, 4), 10u);
    EXPECT_EQ(Utf8Offset(text, 9), text.size());
    EXPECT_EQ(KeptByCp1250("\xC4\x83\xC8\x99"), "\xC4\x83?");
}

#ifdef _WIN32
// Every byte against the system's own conversion, and what the system makes
// of each code point back again (no best fit: a letter the page lacks is '?').
TEST(Cp1250Test, AllBytesAgreeWithTheSystemBothWays)
{
    std::vector<wchar_t> codes;
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        const char byte = static_cast<char>(b);
        wchar_t wide = 0xFFFF;
        ASSERT_EQ(::MultiByteToWideChar(1250, 0, &byte, 1, &wide, 1), 1);
        EXPECT_EQ(static_cast<char32_t>(wide), Cp1250ToUnicode(static_cast<unsigned char>(b)));
        codes.push_back(wide);
    }
    // Letters outside the page, the comma-below pair first.
    for (wchar_t outside : {0x0219, 0x021B, 0x0416, 0x4E2D, 0x00C5, 0x20AD})
        codes.push_back(outside);
    for (wchar_t code : codes) {
        SCOPED_TRACE(static_cast<int>(code));
        char byte = 0;
        ASSERT_EQ(::WideCharToMultiByte(1250, WC_NO_BEST_FIT_CHARS, &code, 1, &byte, 1, nullptr, nullptr), 1);
        EXPECT_EQ(static_cast<unsigned char>(byte), UnicodeToCp1250(code));
    }
}
#endif

TEST(ExceptionTest, FormatSubstitutesTheFirstPlaceholder)
{
    EXPECT_EQ(Format("Incerci sa adaugi %d a doua oara!", -7), "Incerci sa adaugi -7 a doua oara!");
    EXPECT_EQ(Format("Fisierul \"%s\" a fost modificat", std::string("C:\\x")), "Fisierul \"C:\\x\" a fost modificat");
    EXPECT_STREQ(EOSError(5, "x").ClassName(), "EOSError");
}

} // namespace upd
