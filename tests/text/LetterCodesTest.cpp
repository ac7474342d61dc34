#include "text/LetterCodes.h"

#include <gtest/gtest.h>

namespace upd::text {

TEST(LetterCodesTest, DecodeDiacritics)
{
    struct Row {
        const char* source;
        const char* expected;
    } rows[] = {
        {"@@", "@"},
        {"@x", ""},
        {"ab@", "ab"},
        {"@", ""},
        {"", ""},
        {"fara coduri", "fara coduri"},
        {"Bun g@asit @in", "Bun g\xE3sit \xEEn"},
        {"r@am@hne dec@ht", "r\xE3m\xE2ne dec\xE2t"},
        {"@a@h@i@s@t@A@H@I@S@T", "\xE3\xE2\xEE\xBA\xFE\xC3\xC2\xCE\xAA\xDE"},
        // Codes do not nest: the character after "@" is always consumed.
        {"@@a", "@a"},
        {"@@@a", "@\xE3"},
        // The code after "@" is case-sensitive and only these letters count.
        {"@b@S", "\xAA"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.source);
        EXPECT_EQ(DecodeDiacritics(row.source), row.expected);
    }
}

TEST(LetterCodesTest, StarsToTags)
{
    EXPECT_EQ(StarsToTags("*b*Da*/b*"), "<b>Da</b>");
    EXPECT_EQ(StarsToTags("a*b*c*"), "a<b>c<");
    EXPECT_EQ(StarsToTags("fara stele"), "fara stele");
}

TEST(LetterCodesTest, LetterCodeBeforeAStarSwallowsIt)
{
    EXPECT_EQ(StarsToTags(DecodeDiacritics("@*b*x")), "b<x");
}

} // namespace upd::text
