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
        {"Bun g@asit @in", "Bun g\xC4\x83sit \xC3\xAEn"},
        {"r@am@hne dec@ht", "r\xC4\x83m\xC3\xA2ne dec\xC3\xA2t"},
        {"@a@h@i@s@t@A@H@I@S@T",
         "\xC4\x83\xC3\xA2\xC3\xAE\xC5\x9F\xC5\xA3\xC4\x82\xC3\x82\xC3\x8E\xC5\x9E\xC5\xA2"},
        // Codes do not nest: the character after "@" is always consumed.
        {"@@a", "@a"},
        {"@@@a", "@\xC4\x83"},
        // The code after "@" is case-sensitive and only these letters count.
        {"@b@S", "\xC5\x9E"},
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
