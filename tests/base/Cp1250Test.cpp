#include "base/Cp1250.h"
#include "base/Exception.h"

#include <gtest/gtest.h>

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

TEST(ExceptionTest, FormatSubstitutesTheFirstPlaceholder)
{
    EXPECT_EQ(Format("Incerci sa adaugi %d a doua oara!", -7), "Incerci sa adaugi -7 a doua oara!");
    EXPECT_EQ(Format("Fisierul \"%s\" a fost modificat", std::string("C:\\x")), "Fisierul \"C:\\x\" a fost modificat");
    EXPECT_STREQ(EOSError(5, "x").ClassName(), "EOSError");
}

} // namespace upd
