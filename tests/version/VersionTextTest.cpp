#include "version/VersionText.h"

#include "base/Exception.h"

#include <gtest/gtest.h>

namespace upd::version {

TEST(VersionTextTest, ValidAndInvalidTexts)
{
    struct Row {
        const char* text;
        bool valid;
        TVersionNumber fields;
    } rows[] = {
        {"2.0.16.389", true, {2, 0, 16, 389}},
        {"", true, {0, 0, 0, 0}},
        {"...", true, {0, 0, 0, 0}},
        {"2", true, {2, 0, 0, 0}},
        {"1..3", true, {1, 0, 3, 0}},
        {".5", true, {0, 5, 0, 0}},
        {"1.2.3.4.5", false, {1, 2, 3, 4}},
        {"1,2", false, {1, 0, 0, 0}},
        {"1.2 ", false, {1, 2, 0, 0}},
        {"1.2a", false, {1, 2, 0, 0}},
        {"1/2", false, {1, 0, 0, 0}},
        {"<info not available>", false, {0, 0, 0, 0}},
        // Fields wrap around in 32 bits instead of failing.
        {"4294967297", true, {1, 0, 0, 0}},
        {"2147483648", true, {-2147483647 - 1, 0, 0, 0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        TVersionNumber v;
        EXPECT_EQ(ParseVersion(row.text, v), row.valid);
        EXPECT_EQ(IsVersionText(row.text), row.valid);
        EXPECT_EQ(v.Major, row.fields.Major);
        EXPECT_EQ(v.Minor, row.fields.Minor);
        EXPECT_EQ(v.Release, row.fields.Release);
        EXPECT_EQ(v.Build, row.fields.Build);
    }
}

TEST(VersionTextTest, CompareVersionsBySign)
{
    EXPECT_LT(CompareVersions("2.0.16.389", "2.0.16.390"), 0);
    EXPECT_GT(CompareVersions("2.1", "2.0.99.99"), 0);
    EXPECT_EQ(CompareVersions("2", "2.0.0.0"), 0);
    EXPECT_EQ(CompareVersions("", "..."), 0);
    EXPECT_EQ(CompareVersions("3.10", "3.9"), 1);
    // The difference itself wraps: INT_MIN - 1 is positive.
    EXPECT_GT(CompareVersions("2147483648", "1"), 0);
}

TEST(VersionTextTest, CompareVersionsNamesTheInvalidText)
{
    try {
        CompareVersions("1.2a", "1.2");
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "1.2a nu este un numar de versiune valid");
    }
    // The first text is checked first.
    try {
        CompareVersions("x", "y");
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "x nu este un numar de versiune valid");
    }
    try {
        CompareVersions("1", "<info not available>");
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "<info not available> nu este un numar de versiune valid");
    }
}

} // namespace upd::version
